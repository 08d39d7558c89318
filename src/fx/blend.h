// The dry/wet blend shared by the delay and the equaliser filter.
#pragma once

// mix * wet + dry * (1 - mix): the wet product is rounded to single
// precision first, the dry share, its product and the sum are worked in
// double and the result rounded once. Written out so the compiler cannot
// regroup it.
inline float blend_wet_dry(float mix, float wet, float dry)
{
    const float wet_share = mix * wet;
    const double dry_share = static_cast<double>(dry) * (1.0 - static_cast<double>(mix));
    return static_cast<float>(static_cast<double>(wet_share) + dry_share);
}

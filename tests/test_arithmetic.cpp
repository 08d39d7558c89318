// The build's floating-point contract. The song's bytes depend on every
// product being rounded before the following add; aarch64 compilers fuse
// a multiply and an add into one instruction (a single rounding) unless the
// build forbids it, so these run on every target the suite is built for.
#include <gtest/gtest.h>

namespace {

// Read through volatile so the compiler sees run-time values: it can neither
// fold an expression at compile time nor share one product between two checks.
template <typename T>
T opaque(T value)
{
    volatile T held = value;
    return held;
}

TEST(Arithmetic, SingleProductIsRoundedBeforeTheAdd)
{
    // (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24: the 2^-24 is half a unit in the
    // last place and ties to even, so the rounded product is 1 + 2^-11 and
    // cancels exactly. A fused multiply-subtract keeps it: +-2^-24.
    EXPECT_EQ(opaque(1.0f + 0x1p-12f) * opaque(1.0f + 0x1p-12f) - opaque(1.0f + 0x1p-11f), 0.0f);
    EXPECT_EQ(opaque(1.0f + 0x1p-11f) - opaque(1.0f + 0x1p-12f) * opaque(1.0f + 0x1p-12f), 0.0f);
}

TEST(Arithmetic, DoubleProductIsRoundedBeforeTheAdd)
{
    // (1 + 2^-27)^2 = 1 + 2^-26 + 2^-54: a quarter unit, rounded away;
    // fused, +-2^-54 would remain.
    EXPECT_EQ(opaque(1.0 + 0x1p-27) * opaque(1.0 + 0x1p-27) - opaque(1.0 + 0x1p-26), 0.0);
    EXPECT_EQ(opaque(1.0 + 0x1p-26) - opaque(1.0 + 0x1p-27) * opaque(1.0 + 0x1p-27), 0.0);
}

}  // namespace

// The build's floating-point contract: every product is rounded before the
// following add (aarch64 compilers fuse them unless the build forbids it).
#include <gtest/gtest.h>

namespace {

// Read through volatile so nothing is folded at compile time.
template <typename T>
T opaque(T value)
{
    volatile T held = value;
    return held;
}

// (1 + 2^-12)^2 rounds to 1 + 2^-11 (and (1 + 2^-27)^2 to 1 + 2^-26); fused, a residue remains.
TEST(Arithmetic, ProductsAreRoundedBeforeTheAdd)
{
    EXPECT_EQ(opaque(1.0f + 0x1p-12f) * opaque(1.0f + 0x1p-12f) - opaque(1.0f + 0x1p-11f), 0.0f);
    EXPECT_EQ(opaque(1.0f + 0x1p-11f) - opaque(1.0f + 0x1p-12f) * opaque(1.0f + 0x1p-12f), 0.0f);
    EXPECT_EQ(opaque(1.0 + 0x1p-27) * opaque(1.0 + 0x1p-27) - opaque(1.0 + 0x1p-26), 0.0);
    EXPECT_EQ(opaque(1.0 + 0x1p-26) - opaque(1.0 + 0x1p-27) * opaque(1.0 + 0x1p-27), 0.0);
}

}  // namespace

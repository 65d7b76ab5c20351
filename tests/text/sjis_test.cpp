#include <gtest/gtest.h>

#include "text/sjis.hpp"

TEST(Smoke, Builds) { EXPECT_EQ(korvalen::AlignedPos("a", "xa"), 2); }

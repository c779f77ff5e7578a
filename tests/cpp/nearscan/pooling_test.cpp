#include "nearscan/core/pooling.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using nearscan::mean_pooled_unit_rows;

// Two texts of three positions, width two: the first owns two positions (the third is padding
// full of large numbers that must not count), the second none (its mean is zero and stays so).
TEST(Pooling, MeanOfRealTokensScaledToUnitLength) {
    const float hidden[] = {3, 0, 1, 4, 1000, -1000,  //
                            5, 5, 5, 5, 5, 5};
    auto rows = mean_pooled_unit_rows(hidden, 2, 3, 2, {2, 0});
    ASSERT_EQ(rows.size(), 4u);
    // mean (2, 2) -> (1/sqrt2, 1/sqrt2)
    EXPECT_NEAR(rows[0], 1 / std::sqrt(2.0), 1e-7);
    EXPECT_NEAR(rows[1], 1 / std::sqrt(2.0), 1e-7);
    EXPECT_EQ(rows[2], 0.0f);
    EXPECT_EQ(rows[3], 0.0f);
    // A length past the padded width counts the width only.
    const float one[] = {3, 4};
    auto capped = mean_pooled_unit_rows(one, 1, 1, 2, {7});
    EXPECT_NEAR(capped[0], 0.6, 1e-7);
    EXPECT_NEAR(capped[1], 0.8, 1e-7);
    EXPECT_THROW(mean_pooled_unit_rows(hidden, 2, 3, 2, {1}), std::invalid_argument);
}

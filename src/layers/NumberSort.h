// Sorting many numbers fast: the statistics of a big log's column need its
// values in order (the quantiles, and the mean and deviation summed from the
// smallest up), and a radix sort puts 10 million in order several times
// faster than comparing them.
#pragma once

#include <vector>

namespace kestrune {

// Sorts numbers (no NaN) ascending, as std::sort with < does; of equal
// values only a -0 and a 0 can be told apart, and -0 comes first.
void SortNumbers(std::vector<double>& values);

}  // namespace kestrune

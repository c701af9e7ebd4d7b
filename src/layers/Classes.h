// Class breaks that fit a field's values: equal steps over the range,
// quantiles (equal counts), natural breaks (Jenks: least squared deviation
// within classes), classes of one standard deviation about the mean, and
// pretty breaks (round numbers). A legend of n classes has n - 1 breaks,
// each the inclusive upper bound of its class, and the open top class above.
// The method and the number of classes are kept in the ".gpe" as
// CLASS_METHOD and CLASS_COUNT; without them the legend is the equal-step one
// it always was.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrune {

enum class ClassMethod { EqualInterval = 0, Quantiles = 1, NaturalBreaks = 2, StdDeviations = 3, Pretty = 4 };
constexpr int kClassMethodCount = 5;
constexpr int kMinClasses = 2;
constexpr int kMaxClasses = 8;
// Natural breaks are exact up to this many distinct values, and worked out on
// an evenly spaced sample of the sorted values beyond.
constexpr size_t kNaturalBreaksExactLimit = 10000;

constexpr const char* kKeyClassMethod = "CLASS_METHOD";
constexpr const char* kKeyClassCount = "CLASS_COUNT";

constexpr const char* kLabelClassMethods[kClassMethodCount] = {
    "#20500100:Equal interval", "#20500101:Quantiles", "#20500102:Natural breaks (Jenks)",
    "#20500103:Standard deviations", "#20500104:Pretty breaks"};

// The breaks (ascending, no two equal) of classes over values sorted
// ascending, without NaN; empty for no values. Fewer breaks come back when
// the values cannot fill that many classes.
std::vector<double> ClassBreaks(ClassMethod method, const std::vector<double>& sorted, int classes);

// Summary statistics of values (NaN left out and counted as blanks).
struct ValueStats {
  size_t count = 0;
  size_t blanks = 0;
  double min = 0.0, max = 0.0, mean = 0.0, median = 0.0, sd = 0.0, p5 = 0.0, p95 = 0.0;
};
// The statistics of values; sorted gets the values sorted, NaN left out.
ValueStats ComputeValueStats(const std::vector<double>& values, std::vector<double>* sorted = nullptr);
// The p-th percentile (0 to 100) of sorted values, linear between ranks.
double Percentile(const std::vector<double>& sorted, double p);

// Counts of values in bins equal steps wide over [min, max] (the last bin
// holds max); empty for no values.
std::vector<size_t> Histogram(const std::vector<double>& values, double min, double max, int bins);

}  // namespace kestrune

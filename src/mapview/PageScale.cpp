// Scale bar lengths and the orientation of the printed page.
#include "mapview/PageScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "lang/LangString.h"

namespace kestrune {

namespace {

// The 1, 2 or 5 × 10^n nearest to a positive value by ratio.
double RoundLength(double value) {
  const double decade = std::pow(10.0, std::floor(std::log10(value)));
  double best = decade;
  for (double step : {1.0, 2.0, 5.0, 10.0}) {
    if (std::fabs(std::log(step * decade / value)) < std::fabs(std::log(best / value))) best = step * decade;
  }
  return best;
}

// A round length as it is written: no decimals from 1 up, else as few as it needs.
std::string LengthText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", value >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(value))), value);
  return text;
}

}  // namespace

ScaleBar ChooseScaleBar(double mapWidthMetres, bool metric) {
  ScaleBar bar;
  if (!(mapWidthMetres > 0.0) || !std::isfinite(mapWidthMetres)) return bar;
  const double fifth = mapWidthMetres / 5.0;
  if (metric) {
    if (fifth >= 1000.0 / std::sqrt(2.0)) {
      const double km = RoundLength(fifth / 1000.0);
      bar.metres = km * 1000.0;
      bar.label = LangFormat(kMsgScaleKilometres, LengthText(km).c_str());
    } else {
      const double m = RoundLength(fifth);
      bar.metres = m;
      bar.label = LangFormat(kMsgScaleMetres, LengthText(m).c_str());
    }
    return bar;
  }
  const double feet = fifth / kScaleFootMetres;
  if (feet >= kScaleMileFeet / std::sqrt(2.0)) {
    const double miles = RoundLength(feet / kScaleMileFeet);
    bar.metres = miles * kScaleMileFeet * kScaleFootMetres;
    bar.label = LangFormat(kMsgScaleMiles, LengthText(miles).c_str());
  } else {
    const double ft = RoundLength(feet);
    bar.metres = ft * kScaleFootMetres;
    bar.label = LangFormat(kMsgScaleFeet, LengthText(ft).c_str());
  }
  return bar;
}

bool LandscapePrintsLarger(double viewWidth, double viewHeight, double paperWidth, double paperHeight,
                           double keptBelow) {
  if (!(viewWidth > 0.0) || !(viewHeight > 0.0)) return false;
  auto fit = [&](double w, double h) {
    return std::min(w / viewWidth, std::max(0.0, h - keptBelow) / viewHeight);
  };
  const double shortSide = std::min(paperWidth, paperHeight);
  const double longSide = std::max(paperWidth, paperHeight);
  return fit(longSide, shortSide) > fit(shortSide, longSide);
}

}  // namespace kestrune

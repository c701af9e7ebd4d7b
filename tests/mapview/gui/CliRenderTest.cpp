// kestrune-cli render run in-process: the image's colours are the legend's
// colours of the records it shows, in their places; and the arguments the
// drawing subcommands share (sizes, paper names).
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include <QImage>
#include <QPageSize>

#include <gtest/gtest.h>

#include "geo/gui/QPainterCanvas.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"
#include "layers/Legend.h"
#include "mapview/gui/CliMapFiles.h"
#include "mapview/gui/CliPrint.h"
#include "mapview/gui/CliRender.h"
#include "support/SafeWriteTesting.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::TempDir;

// Runs the subcommand; gives its status with what it wrote on err.
int Render(const std::vector<std::string>& args, std::string* errText = nullptr) {
  std::ostringstream out, err;
  const int status = RunRenderCommand(args, out, err);
  if (errText) *errText = err.str();
  EXPECT_TRUE(out.str().empty());
  return status;
}

// How many pixels of each colour the image holds.
std::map<QRgb, int> Colours(const QImage& image) {
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
  }
  return counts;
}

TEST(CliRender, TheLogsColoursAreItsLegendsColoursOfItsRecords) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  const std::string shp = test::CopyFileSet(data / "field" / "as-applied-simple1.shp", dir.path()).string();
  const std::string png = (dir / "map.png").string();
  std::string err;
  ASSERT_EQ(Render({png, shp, "--size", "800x600"}, &err), kCliOk) << err;

  const QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.size(), QSize(800, 600));
  // The colours the records were given through the legend (the file draws no borders).
  std::set<QRgb> expected{qRgb(255, 255, 255)};
  std::set<QRgb> legend;
  {
    LayerList list;
    Layer* layer = list.AddLayer(shp, true);
    ASSERT_NE(layer, nullptr);
    ASSERT_EQ(layer->GetLegend().GetCount(), 5u);
    for (const LegendEntry& e : layer->GetLegend().GetEntries()) legend.insert(ToQColor(e.color).rgb());
    for (const Shape* shape : layer->Records()) expected.insert(ToQColor(shape->GetColor()).rgb());
  }
  EXPECT_EQ(expected.size(), 6u) << "every class holds records";
  const std::map<QRgb, int> counts = Colours(image);
  std::set<QRgb> seen;
  for (const auto& [colour, n] : counts) seen.insert(colour);
  EXPECT_EQ(seen, expected);
  for (QRgb colour : legend) EXPECT_GT(counts.count(colour) ? counts.at(colour) : 0, 50) << std::hex << colour;
}

TEST(CliRender, ClassesLieWhereTheirRecordsAre) {
  TempDir dir;
  // Five points from west to east, one per class, lowest value furthest west.
  const std::vector<double> values = {1.0, 2.0, 3.0, 4.0, 50.0};
  const std::string shp = test::WritePointSet(dir, "row", {{-95.04, 42.0}, {-95.02, 42.0}, {-95.0, 42.0},
                                                          {-94.98, 42.0}, {-94.96, 42.0}}, values);
  test::WriteFileBytes(dir / "row.gpe", "[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\nDRAW_BORDER=0\r\nDISPLAY_SIZE=30000\r\n");
  const std::vector<Color> colours = {0x0000FF, 0x00FFFF, 0x00FF00, 0xFFFF00, 0xFF0000};
  Legend legend;
  for (std::size_t i = 0; i < 4; ++i) legend.Insert(values[i], colours[i]);
  legend.Insert(kLegendTopValue, colours[4]);
  ASSERT_TRUE(legend.SaveFile((dir / "row.lgd").string()));

  const std::string png = (dir / "row.png").string();
  std::string err;
  ASSERT_EQ(Render({png, shp, "--size", "600x200"}, &err), kCliOk) << err;
  const QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.size(), QSize(600, 200));
  // Each class's pixels, and the mean column of each.
  std::map<QRgb, std::pair<long long, long long>> where;  // colour: sum of x, count
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      auto& w = where[image.pixel(x, y)];
      w.first += x;
      ++w.second;
    }
  }
  double previous = -1.0;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    SCOPED_TRACE(i);
    const QRgb c = ToQColor(colours[i]).rgb();
    ASSERT_TRUE(where.count(c));
    EXPECT_GT(where[c].second, 4);
    const double meanX = static_cast<double>(where[c].first) / where[c].second;
    EXPECT_GT(meanX, previous) << "classes west to east";
    previous = meanX;
  }
  EXPECT_EQ(where.size(), colours.size() + 1) << "nothing but the classes on white";
}

TEST(CliRender, RefusedFilesAndOutputsAndArguments) {
  TempDir dir;
  const std::string shp = test::WritePointSet(dir, "pts", {{-95.0, 42.0}, {-94.9, 42.1}}, {1.0, 2.0});
  std::string err;
  EXPECT_EQ(Render({(dir / "a.png").string(), (dir / "absent.shp").string()}, &err), kCliFailed);
  EXPECT_NE(err.find("File or path does not exist."), std::string::npos) << err;
  EXPECT_EQ(Render({(dir / "none" / "a.png").string(), shp}, &err), kCliFailed);
  EXPECT_NE(err.find("Could not write"), std::string::npos) << err;
  EXPECT_EQ(Render({(dir / "a.png").string()}, &err), kCliUsage);
  EXPECT_EQ(Render({(dir / "a.png").string(), shp, "--size"}, &err), kCliUsage);
  EXPECT_EQ(Render({(dir / "a.png").string(), shp, "--size", "20000x10"}, &err), kCliUsage);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.png"));
  // A name without an image suffix still gets a PNG.
  EXPECT_EQ(Render({(dir / "picture").string(), shp, "--size", "40x30"}, &err), kCliOk) << err;
  EXPECT_EQ(test::ReadFileBytes(dir / "picture").substr(1, 3), "PNG");
}

// Runs print or render; gives its status with what it wrote on err.
int RunOutput(const std::string& command, const std::vector<std::string>& args, std::string& errText) {
  std::ostringstream out, err;
  const int status = command == "print" ? RunPrintCommand(args, out, err) : RunRenderCommand(args, out, err);
  errText = err.str();
  return status;
}

TEST(CliOutputs, EveryFailingStepKeepsTheOldPictureOrPageAndSaysWhy) {
  TempDir dir;
  const std::string shp = test::WritePointSet(dir, "pts", {{-95.0, 42.0}, {-94.9, 42.1}}, {1.0, 2.0});
  test::WriteFileBytes(dir / "target", "old bytes");
  for (const char* command : {"print", "render"}) {
    const std::string output = (dir / (std::string(command) + ".out")).string();
    for (const test::WriteFaultCase& fault : test::WriteFaultCases()) {
      // The PDF writer writes by itself: only the steps around it can fail there.
      if (fault.step == SafeWriteStep::Write && std::string(command) == "print") continue;
      SCOPED_TRACE(std::string(command) + " " + fault.name);
      test::WriteFileBytes(output, "old bytes");
      std::string err;
      {
        test::ScopedWriteFault injected(fault);
        EXPECT_EQ(RunOutput(command, {output, shp, command == std::string("print") ? "--view" : "--size", "40x30"}, err),
                  kCliFailed);
      }
      EXPECT_EQ(test::ReadFileBytes(output), "old bytes");
      EXPECT_NE(err.find(output), std::string::npos) << err;
      EXPECT_NE(err.find(std::strerror(fault.error)), std::string::npos) << err;
    }
    // An output that is a link is refused; what it points to stays.
    const std::string link = (dir / (std::string(command) + ".link")).string();
    std::filesystem::create_symlink(dir / "target", link);
    std::string err;
    EXPECT_EQ(RunOutput(command, {link, shp}, err), kCliFailed);
    EXPECT_NE(err.find("symbolic link"), std::string::npos) << err;
    EXPECT_EQ(test::ReadFileBytes(dir / "target"), "old bytes");
    EXPECT_TRUE(test::TemporaryFilesIn(dir.path()).empty());
    // Without a fault the output lands whole.
    EXPECT_EQ(RunOutput(command, {output, shp}, err), kCliOk) << err;
    EXPECT_NE(test::ReadFileBytes(output), "old bytes");
  }
}

TEST(CliOutputs, AReallyFullDiskKeepsTheOldPageAndSaysSo) {
  KESTRUNE_TINY_DISK_OR_SKIP(disk);
  TempDir dir;
  const std::string shp = test::WritePointSet(dir, "pts", {{-95.0, 42.0}, {-94.9, 42.1}}, {1.0, 2.0});
  const std::string pdf = (disk / "page.pdf").string(), png = (disk / "map.png").string();
  test::WriteFileBytes(pdf, "old page");
  test::WriteFileBytes(png, "old map");
  disk.Fill();
  std::string err;
  EXPECT_EQ(RunOutput("print", {pdf, shp}, err), kCliFailed);
  EXPECT_NE(err.find(std::strerror(ENOSPC)), std::string::npos) << err;
  EXPECT_EQ(RunOutput("render", {png, shp}, err), kCliFailed);
  EXPECT_NE(err.find(std::strerror(ENOSPC)), std::string::npos) << err;
  EXPECT_EQ(test::ReadFileBytes(pdf), "old page");
  EXPECT_EQ(test::ReadFileBytes(png), "old map");
  EXPECT_TRUE(test::TemporaryFilesIn(disk.path()).empty());
}

// Pictures of every kind a map makes, written as PNG and read back by Qt's
// own PNG reader: the same pixels and the same pixel size. A picture with
// see-through pixels keeps them through the general writer.
TEST(CliOutputs, PngPicturesReadBackPixelForPixel) {
  struct Case {
    const char* name;
    int width, height;
    std::function<QRgb(int x, int y)> pixel;
  };
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  std::vector<uint32_t> noise(640 * 480);
  for (uint32_t& v : noise) v = next() >> 8;
  const std::vector<Case> cases = {
      {"one colour", 320, 200, [](int, int) { return qRgb(255, 255, 255); }},
      {"one pixel", 1, 1, [](int, int) { return qRgb(1, 2, 3); }},
      {"noise", 640, 480, [&noise](int x, int y) { return QRgb(0xff000000u | noise[size_t(y) * 640 + size_t(x)]); }},
      // Channels that fall from one row to the next wrap below zero in the filter.
      {"falling rows", 257, 300, [](int x, int y) { return qRgb((255 - y) & 255, (x * 7 + 255 - 3 * y) & 255, (x ^ y) & 255); }},
      {"dots on a background", 1001, 7, [](int x, int y) { return (x * 31 + y * 17) % 23 ? qRgb(250, 250, 245) : qRgb(x & 255, 0, 200); }},
      {"tall and thin", 3, 2500, [](int x, int y) { return qRgb(y % 256, (y / 256) * 20, x * 100); }},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QImage image(c.width, c.height, QImage::Format_RGB32);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) image.setPixel(x, y, c.pixel(x, y));
    }
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(2835);
    const QString path = QString::fromStdString((dir / "picture.png").string());
    ASSERT_TRUE(WriteMapImage(image, path));
    const QImage back(path);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), image);
    EXPECT_EQ(back.dotsPerMeterX(), 3780);
    EXPECT_EQ(back.dotsPerMeterY(), 2835);
  }
  QImage seeThrough(20, 10, QImage::Format_ARGB32);
  seeThrough.fill(qRgba(10, 20, 30, 0));
  seeThrough.setPixel(3, 4, qRgba(200, 100, 50, 255));
  const QString path = QString::fromStdString((dir / "see-through.png").string());
  ASSERT_TRUE(WriteMapImage(seeThrough, path));
  const QImage back = QImage(path).convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(back.pixel(0, 0)), 0);
  EXPECT_EQ(back.pixel(3, 4), qRgba(200, 100, 50, 255));
}

TEST(CliMapArguments, SizesAreTwoPositiveNumbersWithinTheLimit) {
  int w = 7, h = 9;
  EXPECT_TRUE(ParseSizeArgument("1920x1080", 16384, w, h));
  EXPECT_EQ(w, 1920);
  EXPECT_EQ(h, 1080);
  EXPECT_TRUE(ParseSizeArgument("1X1", 16384, w, h));
  EXPECT_EQ(w, 1);
  for (const char* bad : {"", "x", "0x10", "10x0", "10x", "x10", "-5x10", "10x+5", "10*10", " 10x10", "10x10 ",
                          "16385x10", "99999999999x1", "1.5x2"}) {
    w = h = 7;
    EXPECT_FALSE(ParseSizeArgument(bad, 16384, w, h)) << bad;
    EXPECT_EQ(w, 7) << bad;
  }
}

TEST(CliMapArguments, OutputThenFilesWithOptionsAnywhere) {
  CliMapArguments parsed;
  ASSERT_TRUE(ParseMapArguments({"--size", "4x3", "out.png", "a.shp", "--timings", "b.shp"}, {"--size"}, parsed));
  EXPECT_EQ(parsed.output, "out.png");
  EXPECT_EQ(parsed.files, (std::vector<std::string>{"a.shp", "b.shp"}));
  ASSERT_EQ(parsed.options.size(), 1u);
  EXPECT_EQ(parsed.options[0].second, "4x3");
  EXPECT_TRUE(parsed.timings);
  // After "--" a name may start with a dash.
  CliMapArguments dashed;
  ASSERT_TRUE(ParseMapArguments({"out.png", "--", "-odd.shp"}, {}, dashed));
  EXPECT_EQ(dashed.files, (std::vector<std::string>{"-odd.shp"}));
  CliMapArguments bad;
  EXPECT_FALSE(ParseMapArguments({"out.png"}, {}, bad));
  EXPECT_FALSE(ParseMapArguments({"out.png", "a.shp", "--page"}, {"--page"}, bad));
  EXPECT_FALSE(ParseMapArguments({"out.png", "a.shp", "--size", "1x1"}, {"--page"}, bad));
  EXPECT_FALSE(ParseMapArguments({"", "a.shp"}, {}, bad));
}

TEST(CliMapArguments, PaperByQtsKeyOrName) {
  QPageSize size;
  ASSERT_TRUE(PageSizeByName("Letter", size));
  EXPECT_EQ(size.id(), QPageSize::Letter);
  ASSERT_TRUE(PageSizeByName("a4", size));
  EXPECT_EQ(size.id(), QPageSize::A4);
  ASSERT_TRUE(PageSizeByName("LEGAL", size));
  EXPECT_EQ(size.id(), QPageSize::Legal);
  ASSERT_TRUE(PageSizeByName(QPageSize::name(QPageSize::Tabloid).toStdString(), size));
  EXPECT_EQ(size.id(), QPageSize::Tabloid);
  EXPECT_FALSE(PageSizeByName("Napkin", size));
  EXPECT_FALSE(PageSizeByName("", size));
  EXPECT_FALSE(PageSizeByName("Custom", size));
}

}  // namespace
}  // namespace kestrune

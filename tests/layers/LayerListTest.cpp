// The list of open layers, the notes beside each file, the Show Me mask
// rules, the totals and the summary texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "geo/RecordingCanvas.h"
#include "layers/FileSummary.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::TempDir;
using test::WritePointSet;

class LayerListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = WritePointSet(dir_, "a", {{-93.60, 42.03}}, {1.0});
    b_ = WritePointSet(dir_, "b", {{-93.50, 42.13}, {-93.51, 42.14}}, {2.0, 3.0});
  }
  TempDir dir_;
  std::string a_, b_;
};

TEST_F(LayerListTest, NewLayersGoOnTopAndAreDrawnLast) {
  LayerList list;
  Layer* a = list.AddLayer(a_);
  Layer* b = list.AddLayer(b_);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(list.Layers(), (std::vector<Layer*>{b, a}));
  EXPECT_EQ(list.GetCount(), 2);
  Layer* tail = list.AddLayer(a_, true, true);
  EXPECT_EQ(list.Layers().back(), tail);

  // From the tail: the tail layer's symbol, a's, then b's two on top.
  MapView view;
  view.Resize(500, 500);
  view.ZoomAll({list.GetBounds()});
  RecordingCanvas canvas;
  list.DrawAll(canvas, view.Transform());
  ASSERT_EQ(canvas.calls.size(), 4u);
  RecordingCanvas aAlone;
  a->Draw(view.Transform(), aAlone);
  EXPECT_EQ(canvas.calls[0].points, aAlone.calls.at(0).points);
  EXPECT_EQ(canvas.calls[1].points, aAlone.calls.at(0).points);
  RecordingCanvas bAlone;
  b->Draw(view.Transform(), bAlone);
  EXPECT_EQ(canvas.calls[2].points, bAlone.calls.at(0).points);
  EXPECT_EQ(canvas.calls[3].points, bAlone.calls.at(1).points);

  // Iteration from the head.
  std::vector<Layer*> seen;
  for (Layer* l : list.Layers()) seen.push_back(l);
  EXPECT_EQ(seen, (std::vector<Layer*>{b, a, tail}));
}

TEST_F(LayerListTest, MissingAndRefusedFiles) {
  LayerList list;
  test::MessageCatcher messages;
  EXPECT_EQ(list.AddLayer((dir_ / "none.shp").string(), true), nullptr);
  EXPECT_EQ(list.GetCount(), 0);
  // Typed, not chosen: a missing file gives an empty layer named after it.
  Layer* empty = list.AddLayer((dir_ / "none.shp").string());
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->GetRecordCount(), 0u);
  EXPECT_EQ(empty->GetFileName(), "none.shp");
  // A header the reader refuses: nothing is added, the reader told why.
  test::ShpBuilder multiPatch(31);
  test::WriteFileBytes(dir_ / "z.shp", multiPatch.Bytes());
  std::vector<Error> errors;
  EXPECT_EQ(list.AddLayer((dir_ / "z.shp").string(), false, false, &errors), nullptr);
  EXPECT_EQ(list.GetCount(), 1);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].text.rfind("Unknown Shape file type.\n", 0), 0u) << errors[0].text;
  EXPECT_EQ(errors[0].file, (dir_ / "z.shp").string());
  EXPECT_TRUE(messages.messages.empty()) << "the list shows nothing itself";
}

TEST_F(LayerListTest, RemovingWritesChangedLegendsAndForgetsTheActiveLayer) {
  LayerList list;
  Layer* a = list.AddLayer(a_);
  Layer* b = list.AddLayer(b_);
  list.SetActiveLayer(a);
  Legend legend;
  legend.Insert(5.0, 0xFF);
  legend.SetChanged(true);
  a->SetLegend(legend);
  list.RemoveLayer(a, true);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "a.lgd"));
  EXPECT_EQ(list.GetActiveLayer(), nullptr);
  EXPECT_EQ(list.Layers(), std::vector<Layer*>{b});
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "b.lgd")) << "an unchanged legend is not written";
}

TEST_F(LayerListTest, EachLegendThatCannotBeWrittenOnRemovalGivesOneError) {
  test::MessageCatcher messages;
  LayerList list;
  // Layers without files, their side files in a folder that does not exist.
  Layer* a = list.AddLayer((dir_ / "gone" / "a.shp").string());
  Layer* b = list.AddLayer((dir_ / "gone" / "b.shp").string());
  Layer* c = list.AddLayer((dir_ / "gone" / "c.shp").string());
  ASSERT_TRUE(a && b && c);
  Legend legend;
  legend.Insert(5.0, 0xFF);
  legend.SetChanged(true);
  for (Layer* layer : {a, b}) layer->SetLegend(legend);
  Error error;
  EXPECT_FALSE(a->SaveLegend(&error));
  EXPECT_EQ(error.file, (dir_ / "gone" / "a.lgd").string());
  EXPECT_EQ(error.caption, "Legend");
  EXPECT_TRUE(c->SaveLegend()) << "an unchanged legend is not written";

  Error removed;
  list.RemoveLayer(a, true, &removed);
  EXPECT_EQ(removed.file, (dir_ / "gone" / "a.lgd").string());
  std::vector<Error> errors;
  list.RemoveAll(&errors);
  ASSERT_EQ(errors.size(), 1u) << "only b's legend was changed";
  EXPECT_EQ(errors[0].file, (dir_ / "gone" / "b.lgd").string());
  EXPECT_NE(errors[0].text.find("No such file or directory"), std::string::npos) << errors[0].text;
  EXPECT_TRUE(messages.messages.empty()) << "the list shows nothing itself";
}

TEST_F(LayerListTest, BoundsAreTheUnionOfTheLayers) {
  LayerList list;
  EXPECT_EQ(list.GetBounds(), kEmptyBounds);
  Layer* a = list.AddLayer(a_);
  Layer* b = list.AddLayer(b_);
  const MapRect ra = a->GetBounds(), rb = b->GetBounds();
  EXPECT_EQ(list.GetBounds(), (MapRect{std::min(ra.left, rb.left), std::min(ra.top, rb.top),
                                       std::max(ra.right, rb.right), std::max(ra.bottom, rb.bottom)}));
}

TEST(LayerListNames, NewestFirstWithoutExtensions) {
  LayerList list;
  list.AddLayer("/data/east.shp");
  list.AddLayer("/data/.hidden");
  EXPECT_EQ(list.GetNamesText(), ".hidden, east");
  list.AddLayer("/fields/north.v2.shp", false, true);
  EXPECT_EQ(list.GetNamesText(), ".hidden, east, north.v2");
}

// ---------------------------------------------------------------- notes

TEST_F(LayerListTest, NotesLongerThanFourKilobytesSurviveASaveAndLoad) {
  Layer layer;
  layer.SetPathName(a_);
  std::string notes;
  for (int i = 0; notes.size() < 10000; ++i) notes += "Pass " + std::to_string(i) + ": nozzles checked.\r\n";
  ASSERT_TRUE(SaveNotes(layer, notes));
  std::string back;
  ASSERT_TRUE(LoadNotes(layer, back));
  EXPECT_EQ(back, notes);
  // Saved again unchanged, nothing is lost either.
  ASSERT_TRUE(SaveNotes(layer, back));
  EXPECT_EQ(test::ReadFileBytes(dir_ / "a.txt"), notes);
}

TEST_F(LayerListTest, NotesEndAtAZeroByteAndAMissingFileIsEmpty) {
  Layer layer;
  layer.SetPathName(a_);
  std::string text = "x";
  EXPECT_FALSE(LoadNotes(layer, text));
  EXPECT_EQ(text, "");
  test::WriteFileBytes(dir_ / "a.txt", std::string("first\0second", 12));
  ASSERT_TRUE(LoadNotes(layer, text));
  EXPECT_EQ(text, "first");
}

TEST_F(LayerListTest, AFailedSaveSaysSoAndKeepsTheOldNotes) {
  test::MessageCatcher messages;
  Layer nowhere;
  nowhere.SetPathName((dir_ / "missing-folder" / "f.shp").string());
  Error error;
  EXPECT_FALSE(SaveNotes(nowhere, "lost", &error));
  EXPECT_TRUE(messages.messages.empty()) << "the core shows nothing itself";
  EXPECT_EQ(error.text, "Unable to save notes to file.\n\nCould not write " +
                            (dir_ / "missing-folder" / "f.txt").string() +
                            ": No such file or directory. Any file of that name was left as it was.");
  EXPECT_EQ(error.caption, "Kestrune Notes");  // the standard edition's name
  EXPECT_EQ(error.icon, MessageIcon::Warning);
  EXPECT_EQ(error.file, (dir_ / "missing-folder" / "f.txt").string());

  // A folder that takes no new files: the save is refused, the old notes stay
  // whole. (Permissions do not bind the superuser, who can write anyway.)
  Layer layer;
  layer.SetPathName(a_);
  ASSERT_TRUE(SaveNotes(layer, "old notes"));
  namespace fs = std::filesystem;
  fs::permissions(dir_.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const bool refused = !SaveNotes(layer, "new notes that must not half-replace the old");
  fs::permissions(dir_.path(), fs::perms::owner_write, fs::perm_options::add);
  if (refused) {
    EXPECT_EQ(test::ReadFileBytes(dir_ / "a.txt"), "old notes");
  }
  // Nothing but the notes is left behind in the folder.
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".txt."), std::string::npos) << entry.path();
  }
}

TEST_F(LayerListTest, GatheredNotesAreNewestFirstWithoutEmptyOnes) {
  LayerList list;
  Layer* a = list.AddLayer(a_);
  Layer* b = list.AddLayer(b_);
  list.AddLayer((dir_ / "c.shp").string());  // no notes
  ASSERT_TRUE(SaveNotes(*a, "notes of a"));
  ASSERT_TRUE(SaveNotes(*b, "notes of b"));
  EXPECT_EQ(list.GatherNotes(), "notes of b\r\nnotes of a");
}

// ---------------------------------------------------------------- Show Me

TEST(ShowMe, ChoicesAndMasksRoundTrip) {
  EXPECT_EQ(ShowMeMaskFromChoices({0, 2, true}), 0x100D);
  EXPECT_EQ(ShowMeChoicesFromMask(0), (ShowMeChoices{0, 0, false}));
  EXPECT_EQ(ShowMeChoicesFromMask(kDefaultFilterMask), (ShowMeChoices{0, 0, true}));
  EXPECT_EQ(ShowMeChoicesFromMask(0x2 | 0x8), (ShowMeChoices{1, 1, false}));
  EXPECT_EQ(ShowMeChoicesFromMask(0x3 | 0xC | 0x1000), (ShowMeChoices{2, 2, true}));
  for (int boom = 0; boom < 3; ++boom) {
    for (int rate = 0; rate < 3; ++rate) {
      for (bool shadows : {false, true}) {
        const ShowMeChoices c{boom, rate, shadows};
        EXPECT_EQ(ShowMeChoicesFromMask(ShowMeMaskFromChoices(c)), c);
      }
    }
  }
  // A mask from the dialog filters as its choices say: booms off only hides every record.
  Layer layer;
  layer.CreateRecord(kRecordPoint, 1, true)->SetFilterFlags(kComputedRecordFlags);
  layer.SetFilterMask(ShowMeMaskFromChoices({1, 2, true}));
  layer.ApplyFilter();
  EXPECT_TRUE(layer.Records().front()->IsFilteredOut());
  layer.SetFilterMask(ShowMeMaskFromChoices({2, 0, false}));
  layer.ApplyFilter();
  EXPECT_FALSE(layer.Records().front()->IsFilteredOut());
}

// ---------------------------------------------------------------- totals and summary

TEST(Totals, SlotsAddUpOverTheLayers) {
  LayerList list;
  Layer* a = list.AddLayer("/nowhere/a.shp");
  Layer* b = list.AddLayer("/nowhere/b.shp");
  FileSummary& sa = a->GetSummary();
  sa.productCount = 2;
  sa.fieldArea = {1.5, 2.0, 99.0};
  sa.fieldVolume = {10.0, 20.0};
  FileSummary& sb = b->GetSummary();
  sb.productCount = 3;
  sb.fieldArea = {0.25, 0.5, 4.0};
  sb.fieldVolume = {1.0, 2.0, 3.0};
  const FileSummary& t = list.ComputeTotals();
  EXPECT_EQ(t.productCount, 3);
  EXPECT_DOUBLE_EQ(t.fieldArea[0], 1.75);
  EXPECT_DOUBLE_EQ(t.fieldArea[2], 4.0) << "a's third slot is not in use";
  EXPECT_DOUBLE_EQ(t.fieldVolume[1], 22.0);

  b->SetProductSlot(1);  // b is the head layer
  std::string area, volume;
  list.GetTotalsTexts(area, volume);
  EXPECT_EQ(area, "2.50");
  EXPECT_EQ(volume, "22.00");

  // A count past the ten slots reads no further than them.
  sa.productCount = 1000;
  EXPECT_EQ(list.ComputeTotals().productCount, kProductSlots);

  EXPECT_FALSE(CanShowTotals(b));
  b->SetFieldKnown(1, true, true);
  EXPECT_TRUE(CanShowTotals(b));
  b->SetProductSlot(10);
  EXPECT_FALSE(CanShowTotals(b));
  EXPECT_FALSE(CanShowTotals(nullptr));
}

TEST(Summary, TheTextsComeFromTheRightFields) {
  FileSummary s;
  EXPECT_EQ(s.FormatDate(), "01/01/1601") << "a new summary is all zero";
  s.startHour = 22.0;
  s.startMinute = 50.0;
  s.endHour = 13.0;
  s.endMinute = 5.0;
  s.date = 133576128000000000ULL;  // 15 April 2024
  EXPECT_EQ(s.FormatStartTime(), "10:50 PM");
  EXPECT_EQ(s.FormatEndTime(), "1:05 PM");
  EXPECT_EQ(s.FormatDuration(), "14:15");
  EXPECT_EQ(s.FormatDate(), "04/15/2024");
}

}  // namespace
}  // namespace kestrune

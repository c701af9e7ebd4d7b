// The whole viewer window for widget tests: a main frame shown on the
// offscreen platform, files opened the way the command line opens them, and
// the two panes it holds.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <QSettings>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/gui/MainFrame.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "geo/CMapTransform.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "layers/gui/CLayersWnd.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "mapview/gui/CMapWnd.h"
#include "shapes/Shape.h"
#include "support/TestSupport.h"

namespace kestrune::test {

class ViewerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nothing reaches the settings of the user running the tests.
    const QString settings = QString::fromStdString(dir_.path().string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    GetPreferences() = CPreferences();
    SetLangFilePath((dir_ / "KRLang.dat").string());
    ResetLangStringCacheForTesting();
    oldBeep_ = SetBeepHandler([this] { ++beeps_; });
    frame_ = std::make_unique<CMainFrame>();
    frame_->resize(1000, 700);
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
  }

  void TearDown() override {
    frame_.reset();
    SetBeepHandler(oldBeep_);
    GetPreferences() = CPreferences();
    SetLangFilePath("KRLang.dat");
    ResetLangStringCacheForTesting();
  }

  // Copies a file set of the real test data (folder/name.shp) and returns the copy's ".shp".
  std::filesystem::path CopyTestSet(const std::string& relative) {
    return CopyFileSet(TestDataDir() / relative, dir_.path());
  }

  // Opens a file as the command line or a later start does, and waits for its
  // reading to end; true when a layer came of it.
  bool Open(const std::filesystem::path& shp) {
    const int before = frame_->Layers().GetCount();
    frame_->OpenByName(QString::fromStdString(shp.string()));
    frame_->WaitForLoads();
    return frame_->Layers().GetCount() > before;
  }

  CLayersWnd* LayersWnd() const { return dynamic_cast<CLayersWnd*>(frame_->LayersPane()); }
  CMapWnd* MapWnd() const { return dynamic_cast<CMapWnd*>(frame_->MapPane()); }
  Layer* Active() const { return LayersWnd()->GetActiveLayer(); }

  // The client pixel of a map point in the map window.
  QPoint PixelOf(MapPoint p) const {
    MapWnd()->Transform().WorldToDevice(p);
    return QPoint(p.x, p.y);
  }
  // The map point of a client pixel of the map window.
  MapPoint MapOf(const QPoint& pixel) const {
    const DevicePoint d{pixel.x(), pixel.y()};
    MapPoint p;
    MapWnd()->Transform().DeviceToWorld(&d, 1, &p);
    return p;
  }

  TempDir dir_;
  std::unique_ptr<CMainFrame> frame_;
  int beeps_ = 0;
  std::function<void()> oldBeep_;
};

}  // namespace kestrune::test

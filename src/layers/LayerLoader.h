// Reads a file set into a new layer in a worker thread, one file at a time,
// so the window keeps painting and working on the other layers meanwhile.
// Progress comes as a signal; Cancel stops the reading within a moment and
// leaves no layer and nothing written beside the file. The finished layer is
// handed over through the finished signal, in the thread the loader lives in.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QObject>

#include "base/Error.h"

namespace kestrune {

class Layer;

class LayerLoader : public QObject {
  Q_OBJECT
 public:
  explicit LayerLoader(QObject* parent = nullptr);
  // Cancels a load in progress and waits for its thread; the layer it was
  // filling is destroyed.
  ~LayerLoader() override;
  LayerLoader(const LayerLoader&) = delete;
  LayerLoader& operator=(const LayerLoader&) = delete;

  // Starts reading the file into a new layer; false, starting nothing, while
  // another load runs. The loader's thread must run an event loop for the
  // result to arrive.
  bool Start(const std::string& path);
  // Asks the running load to stop; finished follows with cancelled set.
  void Cancel();
  // Whether a load runs (from Start until finished is emitted).
  bool IsRunning() const { return running_; }

 signals:
  // Records read so far and the part of the ".shp" read, in percent.
  void progress(qint64 recordsRead, int percent);
  // The load is over. With a layer, it is the receiver's (LayerList::Adopt
  // takes it); without one the file was refused (error tells why) or the
  // load cancelled. Notices are what the load found wrong beside the file.
  void finished(kestrune::Layer* layer, const kestrune::Error& error, bool cancelled,
                const std::vector<kestrune::Error>& notices);

 private:
  // In the loader's thread, once the worker is done.
  void Finish();

  std::thread worker_;
  std::atomic<bool> cancel_{false};
  Layer* layer_ = nullptr;
  bool ok_ = false;
  bool running_ = false;
};

}  // namespace kestrune

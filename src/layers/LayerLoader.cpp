#include "layers/LayerLoader.h"

#include <utility>

#include "layers/Layer.h"

namespace kestrune {

LayerLoader::LayerLoader(QObject* parent) : QObject(parent) {}

// Stops the worker at its next look at the flag and throws its layer away.
LayerLoader::~LayerLoader() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
  delete layer_;
  layer_ = nullptr;
}

// A new layer lives in this thread; only its loading runs in the worker, and
// nothing else reaches the layer until it is handed over.
bool LayerLoader::Start(const std::string& path) {
  if (running_) return false;
  if (worker_.joinable()) worker_.join();
  running_ = true;
  cancel_ = false;
  ok_ = false;
  layer_ = new Layer();
  layer_->SetPathName(path);
  layer_->SetCancelFlag(&cancel_);
  // Emitted in the worker, delivered here in order, before Finish.
  connect(layer_, &Layer::loadProgress, this, [this](qint64 records, int percent) {
    if (running_) emit progress(records, percent);
  });
  Layer* layer = layer_;
  worker_ = std::thread([this, layer] {
    const bool ok = layer->Open() && layer->Load(false) && !cancel_;
    QMetaObject::invokeMethod(
        this,
        [this, ok] {
          ok_ = ok;
          Finish();
        },
        Qt::QueuedConnection);
  });
  return true;
}

void LayerLoader::Cancel() {
  if (running_) cancel_ = true;
}

// Joins the worker and hands the layer over, or destroys it.
void LayerLoader::Finish() {
  if (worker_.joinable()) worker_.join();
  Layer* layer = layer_;
  layer_ = nullptr;
  running_ = false;
  const bool cancelled = cancel_;
  layer->SetCancelFlag(nullptr);
  layer->disconnect(this);
  Error error;
  std::vector<Error> notices = layer->TakeLoadNotices();
  if (cancelled || !ok_) {
    if (!cancelled) error = layer->GetLoadError();
    delete layer;
    layer = nullptr;
    if (cancelled) notices.clear();
  }
  emit finished(layer, error, cancelled, notices);
}

}  // namespace kestrune

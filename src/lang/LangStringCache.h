// The process-wide cache of looked-up texts by message id. Entries are only
// added, so the text pointers handed out stay valid until the process ends.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kestrune {

class LangStringCache {
 public:
  // The cached text for id; on a miss, the language file's text for id or, when
  // the file has none, defaultText. The first text found for an id is kept.
  const std::string& Lookup(uint32_t id, const char* defaultText);

  // Forgets every entry. Only for tests: callers of the real cache keep pointers.
  void ClearForTesting() {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.clear();
  }
  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_.size();
  }

 private:
  // Node-based, so element addresses are stable while entries are added.
  std::map<uint32_t, std::string> texts_;
  // A layer read in a worker thread looks texts up too.
  mutable std::mutex mutex_;
};

// The process-wide cache (created on first use, never destroyed).
LangStringCache& GetLangStringCache();

// Forgets every cached text, so tests can change the language file between cases.
void ResetLangStringCacheForTesting();

}  // namespace kestrune

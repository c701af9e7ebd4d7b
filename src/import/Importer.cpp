#include "import/Importer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <QDir>
#include <QStandardPaths>

#include "base/ImportInputs.h"
#include "base/JsonText.h"
#include "base/Paths.h"
#include "base/SafeFile.h"
#include "import/GdalReader.h"
#include "import/SetWriter.h"
#include "import/TaskData.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCaption = "#20300010:Import";
constexpr const char* kMsgCannotRead = "#20300011:%s could not be imported: %s.";
constexpr const char* kMsgZipBomb =
    "#20300012:%s was not imported: it would unpack to %s bytes from %s, more than an import unpacks "
    "(at most 100 times its size and 4 GiB).";
constexpr const char* kMsgNoSets = "#20300013:%s holds no shape file sets or other files the import reads.";
constexpr const char* kMsgNoFolder = "#20300014:%s could not be imported: no folder to write the sets in (%s).";
constexpr const char* kMsgKept = "#20300015:%s was not imported again: the earlier import in %s was kept.";
constexpr const char* kMsgNotWritten = "#20300016:%s could not be imported: %s";
constexpr const char* kMsgCancelled = "#20300017:The import of %s was cancelled; nothing was written.";
constexpr const char* kMsgMissing = "#20300018:%s could not be imported: there is no such file or folder.";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

Error MakeError(const std::string& text, const char* id, const std::string& file) {
  Error error;
  error.text = text;
  error.caption = LangText(kCaption);
  error.file = file;
  error.id = TextIdOf(id);
  error.icon = MessageIcon::Error;
  return error;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::absolute(fs::path(path), ec);
  std::string out = ec ? path : p.lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

// The name of the result folder's stem: the source's name without its
// extension; a TASKDATA.XML goes by its folder's name.
std::string StemOf(const std::string& source) {
  const std::string name = FileNameOf(source);
  if (Lower(name) == "taskdata.xml") {
    const std::string folder = FileNameOf(FolderOf(source));
    if (!folder.empty()) return folder;
  }
  if (IsFolder(source)) return name;
  const std::string base = FileNameOf(BasePathOf(source));
  return base.empty() ? name : base;
}

// Where the result goes beside the source: a TASKDATA.XML's result goes
// beside its folder.
std::string ParentOf(const std::string& source) {
  if (Lower(FileNameOf(source)) == "taskdata.xml") {
    const std::string folder = FolderOf(source);
    if (!FolderOf(folder).empty()) return FolderOf(folder);
  }
  return FolderOf(source);
}

// Reads each readable member of a zip.
bool ReadZip(const std::string& zip, ImportContent& content, Error& error,
             const std::function<bool(int)>& progress) {
  std::vector<ZipMember> members;
  std::string why;
  if (!ListZip(zip, members, why)) {
    error = MakeError(LangFormat(kMsgCannotRead, FileNameOf(zip).c_str(), why.c_str()), kMsgCannotRead, zip);
    return false;
  }
  uint64_t unpacked = 0;
  for (const ZipMember& m : members) unpacked += m.size;
  std::error_code ec;
  const uint64_t packed = fs::file_size(fs::path(zip), ec);
  if (unpacked > kMaxZipUnpackedBytes || (!ec && unpacked > packed * kMaxZipExpansion)) {
    error = MakeError(LangFormat(kMsgZipBomb, FileNameOf(zip).c_str(), std::to_string(unpacked).c_str(),
                                 std::to_string(ec ? 0 : packed).c_str()),
                      kMsgZipBomb, zip);
    return false;
  }
  const std::string root = "/vsizip/" + zip + "/";
  // Task data: the folder that holds TASKDATA.XML.
  for (const ZipMember& m : members) {
    if (Lower(FileNameOf(m.path)) != "taskdata.xml") continue;
    const std::string folder = FolderOf(m.path);
    if (!IsTaskData(folder)) continue;
    if (!ReadTaskData(folder, content, why, progress)) {
      error = MakeError(LangFormat(kMsgCannotRead, FileNameOf(zip).c_str(), why.c_str()), kMsgCannotRead, zip);
      return false;
    }
    return true;
  }
  std::vector<std::string> taken;
  bool any = false;
  for (size_t i = 0; i < members.size(); ++i) {
    const ZipMember& m = members[i];
    const std::string inner = m.path.substr(std::min(m.path.size(), root.size()));
    const std::string ext = Lower(ExtensionOf(m.path));
    const bool shape = ext == "shp";
    const bool other = !shape && ext != "zip" && ext != "csv" && !ImportInputKind(m.path).empty();
    if (!shape && !other) continue;
    std::string readWhy;
    const std::function<bool(int)> part = [&](int percent) {
      return !progress || progress(static_cast<int>((i * 100 + static_cast<size_t>(percent)) / members.size()));
    };
    if (ReadWithGdal(m.path, FileNameOf(zip) + "/" + inner, content, taken, readWhy, part)) {
      any = true;
    } else if (readWhy == "cancelled") {
      error = MakeError(LangFormat(kMsgCancelled, FileNameOf(zip).c_str()), kMsgCancelled, zip);
      return false;
    } else {
      content.skipped.push_back({inner, readWhy});
    }
  }
  if (!any) {
    error = MakeError(LangFormat(kMsgNoSets, FileNameOf(zip).c_str()), kMsgNoSets, zip);
    return false;
  }
  return true;
}

// A temporary folder in parent; empty (with errno's reason in why) when none
// can be made there.
std::string MakeTempFolder(const std::string& parent, const std::string& stem, std::string& why) {
  const std::string folder = parent.empty() ? std::string(".") : parent;
  // A folder without any write bit is read-only for the user, even one the
  // system would let write (the superuser's).
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) {
    why = std::strerror(EACCES);
    return {};
  }
  std::string pattern = folder + "/." + stem + "-import.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    why = std::strerror(errno);
    return {};
  }
  return buffer.data();
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) fs::remove_all(fs::path(path), ec);
}

const char* KindName(FeatureKind kind) {
  switch (kind) {
    case FeatureKind::Points: return "points";
    case FeatureKind::Lines: return "lines";
    case FeatureKind::Areas: return "areas";
  }
  return "";
}

}  // namespace

bool IsImportInput(const std::string& path) {
  if (!ImportInputKind(path).empty()) return true;
  return IsFolder(path) && IsTaskData(path);
}

std::string ImportDataFolder() {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  return (data.isEmpty() ? QDir::homePath() + "/.local/share" : data).toStdString() + "/Kestrune/imports";
}

bool ReadImportSource(const std::string& sourcePath, ImportContent& content, Error& error,
                      const std::function<bool(int)>& progress) {
  const std::string source = Absolute(sourcePath);
  const std::string name = FileNameOf(source);
  std::error_code ec;
  if (!fs::exists(fs::path(source), ec)) {
    error = MakeError(LangFormat(kMsgMissing, source.c_str()), kMsgMissing, source);
    return false;
  }
  std::string why;
  if (IsTaskData(source)) {
    if (!ReadTaskData(source, content, why, progress)) {
      error = MakeError(LangFormat(kMsgCannotRead, name.c_str(), why.c_str()), kMsgCannotRead, source);
      return false;
    }
    return true;
  }
  const std::string ext = Lower(ExtensionOf(source));
  if (ext == "zip") return ReadZip(source, content, error, progress);
  if (IsFolder(source)) {
    error = MakeError(LangFormat(kMsgNoSets, name.c_str()), kMsgNoSets, source);
    return false;
  }
  std::vector<std::string> taken;
  if (ReadWithGdal(source, name, content, taken, why, progress)) return true;
  if (why == "cancelled") {
    error = MakeError(LangFormat(kMsgCancelled, name.c_str()), kMsgCancelled, source);
    return false;
  }
  // A KMZ without a KMZ reader is a zip of KML files.
  if (ext == "kmz") {
    content = ImportContent{};
    Error zipError;
    if (ReadZip(source, content, zipError, progress)) return true;
  }
  if (ImportInputKind(source).empty()) why = "it is not a format the import reads";
  error = MakeError(LangFormat(kMsgCannotRead, name.c_str(), why.c_str()), kMsgCannotRead, source);
  return false;
}

bool RunImport(const std::string& sourcePath, const ImportOptions& options, ImportResult& result, Error& error) {
  result = ImportResult{};
  const std::string source = Absolute(sourcePath);
  const std::string name = FileNameOf(source);
  const auto step = [&options](int from, int span) {
    return [&options, from, span](int percent) {
      return !options.progress || options.progress(from + percent * span / 100);
    };
  };
  ImportContent content;
  if (!ReadImportSource(source, content, error, step(0, 80))) return false;
  result.skipped = content.skipped;

  const std::string stem = StemOf(source);
  std::string parent = options.outDir.empty() ? ParentOf(source) : Absolute(options.outDir);
  std::string why;
  std::string temp = MakeTempFolder(parent, stem, why);
  if (temp.empty() && options.outDir.empty()) {
    // A read-only stick or a mail attachment's folder: the user's data folder.
    parent = ImportDataFolder();
    std::error_code ec;
    fs::create_directories(fs::path(parent), ec);
    temp = MakeTempFolder(parent, stem, why);
    result.inDataFolder = true;
  }
  if (temp.empty()) {
    error = MakeError(LangFormat(kMsgNoFolder, name.c_str(), why.c_str()), kMsgNoFolder, source);
    return false;
  }
  const std::string target = parent + "/" + stem + "-import";
  const auto fail = [&](Error e) {
    RemoveTree(temp);
    error = std::move(e);
    return false;
  };

  for (size_t i = 0; i < content.sets.size(); ++i) {
    const FeatureSet& set = content.sets[i];
    if (options.progress && !options.progress(80 + static_cast<int>(i * 20 / content.sets.size()))) {
      return fail(MakeError(LangFormat(kMsgCancelled, name.c_str()), kMsgCancelled, source));
    }
    Error writeError;
    if (!WriteFeatureSet(set, temp, writeError)) {
      return fail(MakeError(LangFormat(kMsgNotWritten, name.c_str(), writeError.text.c_str()), kMsgNotWritten,
                            source));
    }
  }
  // Only now is an earlier result asked about: the new one is ready to take its place.
  std::error_code ec;
  std::string old;
  if (fs::exists(fs::path(target), ec) || fs::is_symlink(fs::path(target), ec)) {
    if (!options.confirmReplace || !options.confirmReplace(target)) {
      return fail(MakeError(LangFormat(kMsgKept, name.c_str(), target.c_str()), kMsgKept, source));
    }
    old = MakeTempFolder(parent, stem + "-old", why);
    if (old.empty() || std::rename(target.c_str(), old.c_str()) != 0) {
      why = std::strerror(errno);
      RemoveTree(old);
      return fail(MakeError(LangFormat(kMsgNotWritten, name.c_str(), why.c_str()), kMsgNotWritten, source));
    }
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    why = std::strerror(errno);
    if (!old.empty()) std::rename(old.c_str(), target.c_str());
    return fail(MakeError(LangFormat(kMsgNotWritten, name.c_str(), why.c_str()), kMsgNotWritten, source));
  }
  SyncFolderOf(target);
  RemoveTree(old);
  if (options.progress) options.progress(100);

  result.folder = target;
  for (const FeatureSet& set : content.sets) {
    result.sets.push_back({target + "/" + set.name + ".shp", set.features.size(), set.kind, set.source});
  }
  return true;
}

std::string ImportResultJson(const std::string& source, const ImportResult& result) {
  std::string out = "{\"import\": ";
  AppendJsonString(out, source);
  out += ", \"sets\": [";
  for (size_t i = 0; i < result.sets.size(); ++i) {
    const ImportedSet& s = result.sets[i];
    if (i) out += ", ";
    out += "{\"path\": ";
    AppendJsonString(out, s.path);
    out += ", \"records\": ";
    AppendJsonInt(out, static_cast<int64_t>(s.records));
    out += ", \"kind\": ";
    AppendJsonString(out, KindName(s.kind));
    out += ", \"source\": ";
    AppendJsonString(out, s.source);
    out += '}';
  }
  out += "], \"skipped\": [";
  for (size_t i = 0; i < result.skipped.size(); ++i) {
    if (i) out += ", ";
    out += "{\"what\": ";
    AppendJsonString(out, result.skipped[i].what);
    out += ", \"why\": ";
    AppendJsonString(out, result.skipped[i].why);
    out += '}';
  }
  out += "], \"folder\": ";
  AppendJsonString(out, result.folder);
  out += ", \"in_data_folder\": ";
  AppendJsonBool(out, result.inDataFolder);
  out += '}';
  return out;
}

}  // namespace kestrune

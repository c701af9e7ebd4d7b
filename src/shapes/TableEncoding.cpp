#include "shapes/TableEncoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cctype>

#include "base/Paths.h"
#include "shapes/BufferedFile.h"
#include "shapes/FileSet.h"

namespace kestrune {

namespace {

// A ".cpg" holds one short line; anything larger is not one.
constexpr int64_t kMaxCpgBytes = 1024;

// Characters of code page 1252 at bytes 0x80 to 0x9F; 0 where the code page
// defines none (those bytes stand for the control character of that number).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The byte of one character in code page 1252, or -1 when it has none.
int Cp1252Byte(char16_t c) {
  // NUL would end the text in the table: it is no character a field can hold.
  if (c == 0) return -1;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return 0x80 + i;
    // The undefined bytes decode to their own control character and go back.
    if (kCp1252High[i] == 0 && c == 0x80 + i) return c;
  }
  return -1;
}

// The character at i whole: a pair of surrogates is one character.
QString CharacterAt(const QString& text, qsizetype i) {
  const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
  return text.mid(i, pair ? 2 : 1);
}

// Whether Qt has a converter of that name.
bool Known(const std::string& name) { return QStringDecoder(name.c_str()).isValid(); }

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

// The encoding a ".cpg" names, in the spellings the writers of shape files use.
TableEncoding TableEncoding::FromName(const std::string& raw) {
  std::string name;
  for (char c : raw) {
    if (c == '\r' || c == '\n') break;
    name.push_back(c);
  }
  const size_t first = name.find_first_not_of(" \t");
  const size_t last = name.find_last_not_of(" \t");
  name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
  std::string upper;
  for (char c : name) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));

  TableEncoding encoding;
  if (upper.empty()) return encoding;
  std::string candidate;
  if (upper == "UTF-8" || upper == "UTF8" || upper == "65001") {
    candidate = "UTF-8";
  } else {
    // "ANSI 1251", "CP1251", "WINDOWS-1251" and a bare "1251".
    std::string number = upper;
    for (const char* prefix : {"ANSI ", "ANSI", "CP", "WINDOWS-", "OEM "}) {
      const std::string p(prefix);
      if (number.compare(0, p.size(), p) == 0) {
        number = number.substr(p.size());
        break;
      }
    }
    if (upper.compare(0, 5, "8859_") == 0 || upper.compare(0, 5, "8859-") == 0) {
      candidate = "ISO-8859-" + upper.substr(5);
    } else if (upper.size() > 4 && AllDigits(upper) && upper.compare(0, 4, "8859") == 0) {
      candidate = "ISO-8859-" + upper.substr(4);  // "88591"
    } else if (AllDigits(number)) {
      if (number == "1252") return encoding;
      for (const std::string& n : {"windows-" + number, "cp" + number, "IBM" + number}) {
        if (Known(n)) {
          candidate = n;
          break;
        }
      }
    } else {
      candidate = name;
    }
  }
  if (candidate.empty() || !Known(candidate)) return encoding;
  // Code page 1252 by any name is the built-in one, which keeps every byte.
  const QString spelled = QString::fromStdString(candidate).toUpper();
  if (spelled == QLatin1String("WINDOWS-1252") || spelled == QLatin1String("CP1252")) return encoding;
  encoding.converterName_ = candidate;
  return encoding;
}

// The ".cpg" beside the table decides; without a readable one, code page 1252.
TableEncoding TableEncoding::ForTable(const std::string& dbfPath) {
  if (dbfPath.empty()) return {};
  const std::string cpg = FindSideFile(BasePathOf(dbfPath), "cpg");
  if (cpg.empty()) return {};
  BufferedFile file;
  int error = 0;
  if (!file.Open(cpg, error) || file.Size() == 0 || file.Size() > kMaxCpgBytes) return {};
  std::string text(static_cast<size_t>(file.Size()), '\0');
  const int64_t got = file.ReadUpTo(text.data(), text.size());
  if (got <= 0) return {};
  text.resize(static_cast<size_t>(got));
  return FromName(text);
}

// Field bytes to text.
QString TableEncoding::Decode(const std::string& bytes) const {
  if (!IsCp1252()) {
    QStringDecoder decoder(converterName_.c_str());
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  }
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (unsigned char b : bytes) {
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) {
      text.append(QChar(kCp1252High[b - 0x80]));
    } else {
      text.append(QChar(static_cast<char16_t>(b)));
    }
  }
  return text;
}

// Text to field bytes, naming the first character the encoding lacks.
bool TableEncoding::Encode(const QString& text, std::string& bytes, QString* bad) const {
  bytes.clear();
  if (!IsCp1252()) {
    QStringEncoder encoder(converterName_.c_str());
    // One character at a time, so the one that cannot be held can be named.
    for (qsizetype i = 0; i < text.size();) {
      const QString one = CharacterAt(text, i);
      const QByteArray b = encoder.encode(one);
      const bool loneSurrogate = one.size() == 1 && one.front().isSurrogate();
      if (encoder.hasError() || one.contains(QChar(0)) || loneSurrogate) {
        if (bad) *bad = one;
        return false;
      }
      bytes.append(b.constData(), static_cast<size_t>(b.size()));
      i += one.size();
    }
    return true;
  }
  bytes.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const int b = Cp1252Byte(text[i].unicode());
    if (b < 0) {
      if (bad) *bad = CharacterAt(text, i);
      return false;
    }
    bytes.push_back(static_cast<char>(b));
  }
  return true;
}

}  // namespace kestrune

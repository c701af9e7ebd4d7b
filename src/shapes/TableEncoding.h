// The text encoding of a dBase table's character fields: the code page its
// ".cpg" names (UTF-8, or any code page Qt knows), else Western code page 1252.
#pragma once

#include <string>

#include <QString>

namespace kestrune {

class TableEncoding {
 public:
  // Code page 1252, the encoding of a table without a ".cpg".
  TableEncoding() = default;
  // The encoding a ".cpg" text names ("UTF-8", "ANSI 1251", "1252", "8859_2",
  // "ISO-8859-15" ...); code page 1252 for a name no converter knows.
  static TableEncoding FromName(const std::string& name);
  // The encoding of the table at dbfPath, from the ".cpg" beside it.
  static TableEncoding ForTable(const std::string& dbfPath);

  bool IsCp1252() const { return converterName_.empty(); }
  // The converter's name ("windows-1252" for the default).
  std::string Name() const { return IsCp1252() ? std::string("windows-1252") : converterName_; }

  // Field bytes as text. Code page 1252 maps every byte to one character and
  // back, so unchanged text round-trips.
  QString Decode(const std::string& bytes) const;
  // Text as field bytes. False, with the first character the encoding cannot
  // hold in *bad, when the text cannot be stored.
  bool Encode(const QString& text, std::string& bytes, QString* bad = nullptr) const;

 private:
  std::string converterName_;  // empty for the built-in code page 1252
};

}  // namespace kestrune

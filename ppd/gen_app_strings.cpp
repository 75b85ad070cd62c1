// gen_app_strings OUTPUT FILE... LANG=CATALOG...: writes the C++ source of
// appStrings() to OUTPUT, the vendor options' texts taken from the driver
// information FILEs (read in order, as ppdc reads a file and its includes)
// and translated by each LANG's catalog. Fails, naming the text, when an
// option or choice has no text or no translation.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/option_texts.h"

using namespace zeruapp;

namespace {

bool readFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// A raw string literal of `text`.
std::string rawLiteral(const std::string& text) {
  std::string delimiter = "zeru";
  while (text.find(")" + delimiter + "\"") != std::string::npos) delimiter += "_";
  return "R\"" + delimiter + "(" + text + ")" + delimiter + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: gen_app_strings OUTPUT FILE... LANG=CATALOG...\n", stderr);
    return 2;
  }
  DriverTexts texts;
  std::vector<std::pair<std::string, std::string>> catalogs;  // language, path
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      catalogs.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
      continue;
    }
    std::string drv;
    if (!readFile(arg, drv)) {
      std::perror(arg.c_str());
      return 1;
    }
    readDriverTexts(drv, texts);
  }

  std::vector<std::pair<std::string, std::string>> files;  // language, strings
  std::string strings, error;
  if (!makeStringsFile(vendorOptions(), texts, nullptr, strings, error)) {
    std::fprintf(stderr, "gen_app_strings: %s\n", error.c_str());
    return 1;
  }
  files.emplace_back("en", strings);
  for (const auto& [language, path] : catalogs) {
    std::string po;
    if (!readFile(path, po)) {
      std::perror(path.c_str());
      return 1;
    }
    Catalog catalog = readCatalog(po);
    if (!makeStringsFile(vendorOptions(), texts, &catalog, strings, error)) {
      std::fprintf(stderr, "gen_app_strings: %s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
    files.emplace_back(language, strings);
  }

  std::ostringstream out;
  out << "// Written by gen_app_strings from the driver information file and its\n"
         "// catalogs at build time.\n"
         "#include \"printer-app/app_strings.h\"\n\n"
         "namespace zeruapp {\n\n"
         "const std::vector<StringsResource>& appStrings() {\n"
         "  static const std::vector<StringsResource> list = {\n";
  for (const auto& [language, data] : files)
    out << "      {\"" << language << "\", " << rawLiteral(data) << "},\n";
  out << "  };\n  return list;\n}\n\n}  // namespace zeruapp\n";

  std::ofstream file(argv[1], std::ios::binary);
  file << out.str();
  if (!file.flush()) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}

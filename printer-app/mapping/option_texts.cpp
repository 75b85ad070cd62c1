#include "printer-app/mapping/option_texts.h"

#include <cctype>

namespace zeruapp {

namespace {

std::string_view trimLeft(std::string_view line) {
  while (!line.empty() && isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
  return line;
}

// The first quoted string of `line` ("Keyword/Text"), split at its slash; a
// string without a slash is its own text.
bool keywordAndText(std::string_view line, std::string& keyword, std::string& text) {
  size_t open = line.find('"');
  if (open == std::string_view::npos) return false;
  size_t close = line.find('"', open + 1);
  if (close == std::string_view::npos) return false;
  std::string_view quoted = line.substr(open + 1, close - open - 1);
  size_t slash = quoted.find('/');
  keyword = std::string(quoted.substr(0, slash));
  text = std::string(slash == std::string_view::npos ? quoted : quoted.substr(slash + 1));
  return !keyword.empty();
}

bool startsWithWord(std::string_view line, std::string_view word) {
  return line.substr(0, word.size()) == word && line.size() > word.size() &&
         isspace(static_cast<unsigned char>(line[word.size()]));
}

// The C-escaped contents of a quoted po string.
std::string unquotePo(std::string_view line) {
  std::string value;
  size_t open = line.find('"');
  size_t close = line.rfind('"');
  if (open == std::string_view::npos || close <= open) return value;
  for (size_t i = open + 1; i < close; ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < close) {
      char e = line[++i];
      value += e == 'n' ? '\n' : e == 't' ? '\t' : e;
    } else {
      value += c;
    }
  }
  return value;
}

void addLine(std::string& out, const std::string& key, const std::string& text) {
  out += quoteString(key) + " = " + quoteString(text) + ";\n";
}

}  // namespace

void readDriverTexts(std::string_view drv, DriverTexts& texts) {
  std::string option;
  while (!drv.empty()) {
    size_t end = drv.find('\n');
    std::string_view line = trimLeft(drv.substr(0, end));
    drv.remove_prefix(end == std::string_view::npos ? drv.size() : end + 1);
    if (!line.empty() && line.front() == '*') line.remove_prefix(1);
    std::string keyword, text;
    if (startsWithWord(line, "Option")) {
      if (keywordAndText(line, keyword, text)) {
        option = keyword;
        texts.options[option] = text;
      }
    } else if (startsWithWord(line, "Choice")) {
      if (!option.empty() && keywordAndText(line, keyword, text))
        texts.choices[{option, keyword}] = text;
    } else if (startsWithWord(line, "Group") || (!line.empty() && line.front() == '}')) {
      option.clear();
    }
  }
}

Catalog readCatalog(std::string_view po) {
  Catalog catalog;
  std::string msgid, msgstr;
  std::string* current = nullptr;
  auto flush = [&] {
    if (!msgid.empty()) catalog[msgid] = msgstr;
    msgid.clear();
    msgstr.clear();
    current = nullptr;
  };
  while (!po.empty()) {
    size_t end = po.find('\n');
    std::string_view line = trimLeft(po.substr(0, end));
    po.remove_prefix(end == std::string_view::npos ? po.size() : end + 1);
    if (startsWithWord(line, "msgid")) {
      flush();
      msgid = unquotePo(line);
      current = &msgid;
    } else if (startsWithWord(line, "msgstr")) {
      msgstr = unquotePo(line);
      current = &msgstr;
    } else if (!line.empty() && line.front() == '"' && current != nullptr) {
      *current += unquotePo(line);
    }
  }
  flush();
  return catalog;
}

std::string quoteString(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (c == '\n') {
      quoted += "\\n";
      continue;
    }
    quoted += c;
  }
  return quoted + "\"";
}

bool makeStringsFile(const std::vector<VendorOption>& options, const DriverTexts& texts,
                     const Catalog* catalog, std::string& out, std::string& error) {
  // The English text, or its translation.
  auto translate = [&](const std::string& english, std::string& text) {
    if (catalog == nullptr) {
      text = english;
      return true;
    }
    auto found = catalog->find(english);
    if (found == catalog->end() || found->second.empty()) {
      error = "no translation of \"" + english + "\"";
      return false;
    }
    text = found->second;
    return true;
  };

  out.clear();
  for (const VendorOption& option : options) {
    auto label = texts.options.find(option.ppdKeyword);
    if (label == texts.options.end()) {
      error = "no text for the option " + option.ppdKeyword + " (" + option.name + ")";
      return false;
    }
    std::string text;
    if (!translate(label->second, text)) return false;
    addLine(out, option.name, text);
    // PAPPL shows integers as numbers and booleans as check boxes: only
    // keyword choices have texts of their own.
    if (option.type != VendorOption::Type::Keyword) continue;
    for (const auto& [value, choice] : option.values) {
      auto found = texts.choices.find({option.ppdKeyword, choice});
      if (found == texts.choices.end()) {
        error = "no text for the choice " + option.ppdKeyword + " " + choice;
        return false;
      }
      if (!translate(found->second, text)) return false;
      addLine(out, option.name + "." + value, text);
    }
  }
  return true;
}

}  // namespace zeruapp

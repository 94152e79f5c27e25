// langpack OUT HEAD LANGUAGE...
//
// Joins the language table's readable sources into the table text the program carries:
// UTF-16LE with a byte-order mark, CRLF line ends. HEAD holds block 0, the general block and
// the two free-text blocks with their own "##" separators; each LANGUAGE file is one section
// whose first line is its header ("=English<TAB>Native"). Every section is opened with "##" and
// the table ends with a closing "##" line.
//
// The sources are checked as they are read: valid UTF-8, no "##" inside a language file (it
// would split the section), a header line first, and a line break at the end.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool ReadFile(const char* path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  content = buffer.str();
  return true;
}

// UTF-8 to UTF-16 code units; false on malformed input.
bool Decode(const std::string& utf8, std::u16string& out) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t c = lead;
    if (lead >= 0x80) {
      if ((lead & 0xE0) == 0xC0)
        extra = 1, c = lead & 0x1F;
      else if ((lead & 0xF0) == 0xE0)
        extra = 2, c = lead & 0x0F;
      else if ((lead & 0xF8) == 0xF0)
        extra = 3, c = lead & 0x07;
      else
        return false;
    }
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= utf8.size()) return false;
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

// LF or CRLF line ends become CRLF.
std::string ToCrlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\r') continue;
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: langpack OUT HEAD [LANGUAGE...]\n";
    return 2;
  }
  std::string table;
  for (int i = 2; i < argc; ++i) {
    std::string content;
    if (!ReadFile(argv[i], content)) {
      std::cerr << "langpack: cannot read " << argv[i] << "\n";
      return 1;
    }
    if (content.empty() || content.back() != '\n') {
      std::cerr << "langpack: " << argv[i] << ": the last line must end with a line break\n";
      return 1;
    }
    if (i == 2) {
      // The head holds exactly the separators of the general block and the two free blocks.
      std::size_t separators = 0;
      for (std::size_t at = content.find("##"); at != std::string::npos;
           at = content.find("##", at + 2))
        ++separators;
      if (separators != 3) {
        std::cerr << "langpack: " << argv[i]
                  << ": the head must hold exactly three \"##\" separators\n";
        return 1;
      }
    } else {
      if (content.find("##") != std::string::npos) {
        std::cerr << "langpack: " << argv[i] << ": \"##\" would split the section\n";
        return 1;
      }
      if (content[0] != '=' || content.find('\t') > content.find('\n')) {
        std::cerr << "langpack: " << argv[i] << ": the first line must be \"=Name<TAB>Name\"\n";
        return 1;
      }
      table += "##";
    }
    table += ToCrlf(content);
  }
  table += "##\r\n";

  std::u16string text = u"\xFEFF";
  if (!Decode(table, text)) {
    std::cerr << "langpack: the sources are not valid UTF-8\n";
    return 1;
  }
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  const std::string out_path = argv[1];
  const std::string temporary = out_path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::cerr << "langpack: cannot write " << temporary << "\n";
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), out_path.c_str()) != 0) {
    std::cerr << "langpack: cannot write " << out_path << "\n";
    return 1;
  }
  return 0;
}

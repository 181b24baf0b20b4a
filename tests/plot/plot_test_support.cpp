#include "plot_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/testdata.h"

namespace kavrel::plottest {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() : previous_(fs::current_path()) {
  std::string pattern = (fs::temp_directory_path() / "kavrel-plot-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  fs::current_path(dir_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  fs::remove_all(dir_, ec);
}

int32_t writeAgeAligned(const std::string& path, const std::vector<TestSeries>& series,
                        float (*curveAt)(int32_t age)) {
  const std::string sep = "\t       ";
  int32_t maxAge = 0;
  int32_t minPith = 2000;
  for (const auto& s : series) {
    maxAge = std::max(maxAge, s.pithOffset + static_cast<int32_t>(s.rings.size()));
    minPith = std::min(minPith, s.pithOffset);
  }
  std::ofstream out(path);
  out << " #age" << sep << "f";
  for (const auto& s : series) out << sep << s.id;
  out << "\n";
  char buf[32];
  for (int32_t age = 1; age <= maxAge; ++age) {
    out << " " << age << sep;
    std::snprintf(buf, sizeof buf, "%.4f", age > minPith ? curveAt(age) : -999.0f);
    out << buf;
    for (const auto& s : series) {
      const int32_t r = age - s.pithOffset;  // ring number at this age
      const float v = r >= 1 && r <= static_cast<int32_t>(s.rings.size())
                          ? s.rings[static_cast<size_t>(r - 1)]
                          : -999.0f;
      std::snprintf(buf, sizeof buf, "%.3f", v);
      out << sep << buf;
    }
    out << "\n";
  }
  return maxAge;
}

ScriptedConsole::ScriptedConsole(const std::string& answers)
    : in_(std::tmpfile()), out_(std::tmpfile()), console_(in_, out_) {
  std::fputs(answers.c_str(), in_);
  std::rewind(in_);
}

ScriptedConsole::~ScriptedConsole() {
  std::fclose(in_);
  std::fclose(out_);
}

std::string ScriptedConsole::output() {
  std::fflush(out_);
  std::string text;
  std::rewind(out_);
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, out_)) > 0) text.append(buf, n);
  std::fseek(out_, 0, SEEK_END);
  return text;
}

namespace {

// The value of an attribute; PLplot writes each attribute on its own indented line.
std::string attribute(const std::string& tag, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t p = tag.find(key);
  if (p == std::string::npos) return "";
  const size_t start = p + key.size();
  return tag.substr(start, tag.find('"', start) - start);
}

std::string decodeEntities(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&') {
      const size_t semi = s.find(';', i);
      const std::string ent = s.substr(i + 1, semi - i - 1);
      if (ent.size() > 2 && ent[0] == '#' && (ent[1] == 'x' || ent[1] == 'X')) {
        out.push_back(static_cast<char>(std::stoi(ent.substr(2), nullptr, 16)));
      } else if (ent.size() > 1 && ent[0] == '#') {
        out.push_back(static_cast<char>(std::stoi(ent.substr(1))));
      } else if (ent == "amp") {
        out.push_back('&');
      } else if (ent == "lt") {
        out.push_back('<');
      } else if (ent == "gt") {
        out.push_back('>');
      }
      i = semi;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// The text of a <text> element: the contents of its tspans.
std::string textContent(const std::string& element) {
  std::string out;
  size_t p = 0;
  while ((p = element.find("<tspan", p)) != std::string::npos) {
    const size_t open = element.find('>', p);
    const size_t close = element.find("</tspan>", open);
    out += decodeEntities(element.substr(open + 1, close - open - 1));
    p = close;
  }
  return out;
}

SvgPolyline polyline(const std::string& tag) {
  SvgPolyline line;
  line.stroke = attribute(tag, "stroke");
  line.width = std::atof(attribute(tag, "stroke-width").c_str());
  std::istringstream points(attribute(tag, "points"));
  std::string pair;
  while (points >> pair) {
    const size_t comma = pair.find(',');
    line.xs.push_back(std::atof(pair.substr(0, comma).c_str()));
    line.ys.push_back(std::atof(pair.substr(comma + 1).c_str()));
  }
  return line;
}

}  // namespace

SvgPage readSvgPage(const std::string& path, const std::string& frameStroke) {
  const std::string svg = test::readTextFile(path);
  SvgPage page;
  const size_t rect = svg.find("<rect");
  if (rect != std::string::npos) {
    page.background = attribute(svg.substr(rect, svg.find("/>", rect) - rect), "fill");
  }
  SvgPanel current;
  bool inData = false;
  bool started = false;
  auto finish = [&] {
    page.panels.push_back(current);
    current = SvgPanel{};
    inData = false;
    started = false;
  };
  size_t p = 0;
  for (;;) {
    const size_t line = svg.find("<polyline", p);
    const size_t text = svg.find("<text", p);
    if (line == std::string::npos && text == std::string::npos) break;
    if (line < text) {
      const size_t end = svg.find("/>", line);
      SvgPolyline l = polyline(svg.substr(line, end - line));
      if (inData && l.stroke != frameStroke) {
        current.data.push_back(l);
      } else {
        if (inData) finish();
        ++current.frameLines;
        started = true;
      }
      p = end;
    } else {
      const size_t end = svg.find("</text>", text);
      const std::string element = svg.substr(text, end - text);
      if (inData) finish();
      SvgText t{textContent(element),
                attribute(element.substr(0, element.find('>')), "text-anchor")};
      if (t.text == "AGE") {
        current.hasAgeLabel = true;
        if (!current.labels.empty()) {
          current.title = current.labels.back().text;
          current.labels.pop_back();
        }
      } else if (t.text == "RRW") {
        current.hasRrwLabel = true;
        inData = true;
      } else {
        current.labels.push_back(t);
      }
      started = true;
      p = end;
    }
  }
  if (started || inData) finish();
  return page;
}

std::vector<double> tickLabels(const SvgPanel& panel, const std::string& anchor) {
  std::vector<double> v;
  for (const auto& t : panel.labels) {
    if (t.anchor == anchor) v.push_back(std::atof(t.text.c_str()));
  }
  return v;
}

}  // namespace kavrel::plottest

// PLplot keeps a little memory (its saved locale, the loaded driver's
// records) when a device fails inside plinit and the failure unwinds out of
// the library; the tests of that path would otherwise fail the leak check of
// the sanitizer build. Fontconfig, which the cairo devices use for their
// text, keeps its font cache for the life of the process. Only these
// libraries are exempted.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libplplot.so\nleak:libltdl.so\nleak:libfontconfig.so\n";
}

#include "driver/loading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "driver/run_context.h"
#include "rwfile/trrw.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/fixedformat.h"
#include "util/powertransform.h"
#include "util/stats.h"

namespace kavrel {

namespace {

// Why a record is dropped; kNone for an accepted record.
enum class Screen { kNone, kHighValue, kAgeBand, kFirstYear };

// Applies the three screening tests in order; the first that fails decides.
// n is the series' length, which exceeds v.size() for a series longer than
// the reader keeps.
Screen screenRecord(const RunOptions& o, std::span<const float> v, int32_t n, int32_t firstYear,
                    float& highValue) {
  if (o.removeOutliers) {
    // Missing rings (-999.0) never exceed a limit a ring width can have, but
    // the test is on the values as stored, in order.
    auto it = std::find_if(v.begin(), v.end(), [&](float x) { return x > o.upperLimit; });
    if (it != v.end()) {
      highValue = *it;
      return Screen::kHighValue;
    }
  }
  if (o.restrictAgeBand && (n < o.minAge || n > o.maxAge)) return Screen::kAgeBand;
  if (o.restrictYears && (firstYear < o.firstYearMin || firstYear > o.firstYearMax)) {
    return Screen::kFirstYear;
  }
  return Screen::kNone;
}

// Removes the pith offset of the record in slot k (1-based) from the list, so
// the offsets stay paired with the accepted series. The count drops by one
// for every dropped record, also when the list holds no offset for slot k:
// a list shorter than the records then keeps differing from the number of
// accepted series, and the count check warns instead of pairing offsets with
// the wrong series.
void dropPithOffset(SeriesStore& store, RunOptions& o, int32_t k) {
  if (!o.usePithOffsets) return;
  std::vector<int32_t>& offsets = store.pithOffsets;
  if (k >= 1 && k <= static_cast<int32_t>(offsets.size())) {
    offsets.erase(offsets.begin() + (k - 1));
  } else if (!offsets.empty()) {
    offsets.pop_back();
  }
  o.offsetCount -= 1;
}

// An identifier without its trailing blanks.
std::string trimmedId(const std::string& id) {
  const size_t end = id.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : id.substr(0, end + 1);
}

// The record of a series read, before its fate is known.
SeriesRecord readRecord(const std::string& id, int32_t firstYear, std::span<const float> values) {
  SeriesRecord r;
  r.id = id;
  r.firstYear = firstYear;
  r.rings = static_cast<int32_t>(values.size());
  r.missingRings =
      static_cast<int32_t>(std::count(values.begin(), values.end(), kMissingValue));
  return r;
}

// Notes a dropped record with its reason, the value that failed and the pith
// offset paired with it (taken before dropPithOffset removes it).
void recordDropped(std::vector<SeriesRecord>* records, const SeriesStore& store,
                   const RunOptions& o, int32_t k, const std::string& id,
                   const std::string& fullName, int32_t firstYear,
                   std::span<const float> values, ScreenReason why, double value) {
  if (records == nullptr) return;
  SeriesRecord r = readRecord(id, firstYear, values);
  r.fullName = fullName;
  r.screened = why;
  r.screenedValue = value;
  if (o.usePithOffsets && k >= 1 && k <= static_cast<int32_t>(store.pithOffsets.size())) {
    r.pithOffset = store.pithOffsets[static_cast<size_t>(k - 1)];
  }
  records->push_back(std::move(r));
}

// Width of an integer field: the usual width, or more when the number needs it
// (a record number of 10000, a pith offset of 1000 or more), so that a table
// row never shows asterisks.
int32_t intWidth(int64_t v, int32_t usual) {
  int32_t digits = 1;
  for (int64_t a = v < 0 ? -v : v; a >= 10; a /= 10) ++digits;
  if (v < 0) ++digits;
  return std::max(usual, digits);
}

// Width of an f.3 field of usual width 7 that holds v (8 for -999.000).
int32_t realWidth(float v) {
  const std::string s = formatLayout("(f12.3)", {v});
  size_t first = s.find_first_not_of(' ');
  return std::max(7, static_cast<int32_t>(s.size() - first));
}

// The reader's warnings about the input: the first kWarningsOnScreen of the
// file on the screen and in the log, the rest in the log only; `shown`
// counts them over the whole file.
constexpr int32_t kWarningsOnScreen = 10;

void reportReadWarnings(const RwInput& in, RunLog& log, int32_t& shown) {
  auto report = [&](const std::string& text) {
    const std::string line = " Warning: " + in.name() + ", " + text;
    if (++shown <= kWarningsOnScreen) {
      log.echo(line);
    } else {
      log.line(line);
    }
  };
  for (const RwWarning& w : in.warnings()) report(w.message());
  const int32_t notKept = in.lastRead().warningsNotKept;
  if (notKept > 0) {
    report(std::to_string(notKept) + " more warnings about this series, not listed");
  }
}

// Gives the record in slot k (1-based) its offset from the pith table, so the
// list of offsets grows with the records as a positional file's does; a name
// without a row takes 0 until the table is checked at the end of loading.
void takeTableOffset(SeriesStore& store, RunOptions& o, int32_t k,
                     const std::map<std::string, int32_t>& byName, const std::string& key) {
  const auto it = byName.find(key);
  store.pithOffsets.resize(static_cast<size_t>(k - 1), 0);
  store.pithOffsets.push_back(it == byName.end() ? 0 : it->second);
  o.offsetCount = k;
}

// Joins up to kNamesShown names, and says how many more there are.
std::string nameList(const std::vector<std::string>& names) {
  constexpr size_t kNamesShown = 10;
  std::string text;
  for (size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
    if (i > 0) text += ", ";
    text += names[i];
  }
  if (names.size() > kNamesShown) {
    text += " and " + std::to_string(names.size() - kNamesShown) + " more";
  }
  return text;
}

// A table that does not pair its rows one for one with the series read is not
// used at all, as a positional file of the wrong length is not: one warning
// line names the names that fail.
void checkPithTable(SeriesStore& store, RunOptions& o, RunLog& log,
                    const std::vector<std::string>& keys) {
  const PithTableMismatch m = matchPithTable(store.pithTable, keys);
  if (!m.any()) return;
  std::string line = " Warning: the pith table " + o.pithTableFileName + " does not match the series:";
  if (!m.withoutRow.empty()) line += " no row for " + nameList(m.withoutRow) + ";";
  if (!m.withoutSeries.empty()) line += " no series for " + nameList(m.withoutSeries) + ";";
  if (!m.twice.empty()) line += " given more than once: " + nameList(m.twice) + ";";
  line.back() = '.';
  log.echo(line + " Program continuing without offset information");
  std::fill(store.pithOffsets.begin(), store.pithOffsets.end(), 0);
  o.usePithOffsets = false;
}

}  // namespace

void loadSeries(SeriesStore& store, RunOptions& o, RwInput& in, RunLog& log,
                std::vector<SeriesRecord>* records) {
  store.seriesCount = 0;
  store.skipCount = 0;
  std::string id;
  int32_t firstYear = 0;
  std::vector<float> values;
  int32_t warnings = 0;
  const bool byName = o.usePithOffsets && !o.pithTableFileName.empty();
  std::map<std::string, int32_t> tableOffsets;
  std::vector<std::string> keys;  // every series read, by the name the table uses
  if (byName) {
    store.pithOffsets.clear();
    for (const NamedPithOffset& row : store.pithTable) tableOffsets.emplace(row.name, row.offset);
  }
  for (;;) {
    const int32_t n = trrwRead(in, id, firstYear, values, store.readCounter);
    reportReadWarnings(in, log, warnings);
    if (store.readCounter == kEndOfFile || n == kEndOfFile) break;
    const std::string& fullName = in.lastRead().fullName;
    const int32_t k = store.seriesCount + 1;  // the slot of this record
    if (byName) {
      keys.push_back(pithTableKey(fullName.empty() ? std::string_view(id) : fullName));
      takeTableOffset(store, o, k, tableOffsets, keys.back());
    }
    float highValue = 0.0f;
    const Screen why = screenRecord(o, values, n, firstYear, highValue);
    if (why != Screen::kNone) {
      ++store.skipCount;
      if (why == Screen::kHighValue) {
        log.echo(freeLine({store.skipCount, " Skip HIGH Value ", id, " ", highValue}));
        recordDropped(records, store, o, k, id, fullName, firstYear, values, ScreenReason::highValue,
                      static_cast<double>(highValue));
      } else if (why == Screen::kAgeBand) {
        log.echo(freeLine({store.skipCount, " Skip Age Band ", id, " ", n}));
        recordDropped(records, store, o, k, id, fullName, firstYear, values, ScreenReason::ageBand, n);
      } else {
        log.echo(freeLine({store.skipCount, " Skip Crn Length ", id, " ", firstYear}));
        recordDropped(records, store, o, k, id, fullName, firstYear, values, ScreenReason::firstYearBand,
                      firstYear);
      }
      dropPithOffset(store, o, k);
      continue;
    }
    // Capacity of one series: its pith offset and its values must fit the
    // ring positions of the store.
    const int32_t offset = o.usePithOffsets ? store.pithOffset(k) : 0;
    if (static_cast<int64_t>(n) + offset > kMaxRings) {
      ++store.skipCount;
      log.echo(freeLine({store.skipCount, " Skip Too Long ", id, " length", n, "pith offset",
                         offset, "exceed", kMaxRings, "rings"}));
      recordDropped(records, store, o, k, id, fullName, firstYear, values, ScreenReason::tooLong,
                    static_cast<double>(static_cast<int64_t>(n) + offset));
      dropPithOffset(store, o, k);
      continue;
    }
    if (k > kMaxSeries) {
      throw Fatal("Too many series in " + o.inputFileName + ": the limit is " +
                  std::to_string(kMaxSeries) + " accepted series.");
    }
    store.ids.push_back(id);
    store.fullNames.push_back(fullName.empty() ? trimmedId(id) : fullName);
    store.firstYears.push_back(firstYear);
    store.lengths.push_back(n);
    store.values.emplace_back(values.begin(), values.end());
    store.seriesCount = k;
    if (records != nullptr) {
      records->push_back(readRecord(id, firstYear, values));
      records->back().fullName = fullName;
      records->back().storeIndex = k;
    }
  }
  if (warnings > kWarningsOnScreen) {
    log.echo(freeLine({warnings - kWarningsOnScreen, "more warnings about", in.name(),
                       "are in the run log", kRunLogFileName}));
  }
  if (byName) {
    store.pithOffsets.resize(static_cast<size_t>(store.seriesCount), 0);
    o.offsetCount = store.seriesCount;
    checkPithTable(store, o, log, keys);
  }
}

void loadInputFile(RunContext& ctx) {
  const std::string& name = ctx.options.inputFileName;
  const std::string path = ctx.inputPath.empty() ? name : ctx.inputPath.string();
  if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
    // A directory opens but can't be read: report it like a missing file.
    errno = 0;
    (void)std::fgetc(probe);
    const int readError = std::ferror(probe) != 0 ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(probe);
    if (readError != 0) {
      throw Fatal("Cannot open the input file " + name + " for reading: " +
                  std::strerror(readError));
    }
  } else {
    throw Fatal("Cannot open the input file " + name + " for reading: " + std::strerror(errno));
  }
  std::optional<RwInput> in = RwInput::openFile(path, ctx.inputFormat);
  if (!in) throw Fatal("Cannot read the input file " + name);
  ctx.inputFormat = in->format();
  loadSeries(ctx.store, ctx.options, *in, ctx.log, &ctx.results.series);
  if (in->readError()) throw Fatal("Cannot read the input file " + name);
}

void powerTransformAll(SeriesStore& store) {
  for (int32_t k = 1; k <= store.seriesCount; ++k) {
    std::vector<float>& v = store.values[static_cast<size_t>(k - 1)];
    slpt1(std::span<float>(v.data(), static_cast<size_t>(store.length(k))));
  }
}

void checkPithOffsetCount(SeriesStore& store, RunOptions& o, Console& console, RunLog& log,
                          bool pause) {
  if (!o.usePithOffsets || o.offsetCount == store.seriesCount) return;
  // Counts of 10000 widen their 4-digit fields instead of showing asterisks.
  const std::string seriesField = ",a,i" + std::to_string(intWidth(store.seriesCount, 4));
  const std::string offsetField = ",a,i" + std::to_string(intWidth(o.offsetCount, 4));
  console.writeLine(formatLayout(
      "(/2x,a/2x" + seriesField + "/2x" + offsetField + ")",
      {"*************** WARNING **************** ", "The number of series measurements read >>>>> ",
       store.seriesCount, "Does NOT equal number of pith ofsets read >> ", o.offsetCount}));
  log.line(formatLayout(
      "(1x,a/1x" + seriesField + "/1x" + offsetField + ")",
      {"*************** WARNING **************** ", "The number of series measurements read >>>>> ",
       store.seriesCount, "Does NOT equal number of pith ofsets read >> ", o.offsetCount}));
  console.writeLine("  Program continuing without offset information");
  log.line(" Program continuing without offset information");
  if (pause) console.pause(" Hit Return to Continue");
  std::fill(store.pithOffsets.begin(), store.pithOffsets.end(), 0);
  o.usePithOffsets = false;
}

void shiftByPithOffsets(SeriesStore& store) {
  store.pithOffsets.resize(static_cast<size_t>(store.seriesCount), 0);
  store.totalAges.assign(static_cast<size_t>(store.seriesCount), 0);
  for (int32_t k = 1; k <= store.seriesCount; ++k) {
    const size_t i = static_cast<size_t>(k - 1);
    const int32_t offset = store.pithOffsets[i];
    std::vector<float>& v = store.values[i];
    v.resize(static_cast<size_t>(store.lengths[i]));
    if (offset > 0) v.insert(v.begin(), static_cast<size_t>(offset), kMissingValue);
    store.totalAges[i] = store.lengths[i] + offset;
  }
}

std::string loadingHeader() {
  std::string h = "\n Loading " + std::string(98, '_') + "\n";
  h += " Rec#\t       ID \t               FYR\t        LYR\t        AGE\t         Min  \t"
       "         Max  \t         Xmed \t         Hh   \t         Hl   \t         Poff";
  return h;
}

std::string loadingRow(SeriesStore& store, int32_t k) {
  const size_t i = static_cast<size_t>(k - 1);
  const std::vector<float>& v = store.values[i];
  const int32_t total = store.totalAges[i];
  int32_t m = 0;
  for (int32_t j = 0; j < total; ++j) {
    const float x = v[static_cast<size_t>(j)];
    if (x != kMissingValue) store.workSeries[static_cast<size_t>(m++)] = x;
  }
  float stats[5] = {kMissingValue, kMissingValue, kMissingValue, kMissingValue, kMissingValue};
  if (m > 0) {
    const MfsResult r = mfs(store.workSeries, m, 2);
    stats[0] = r.minimum;
    stats[1] = r.maximum;
    stats[2] = r.median;
    stats[3] = r.upperHinge;
    stats[4] = r.lowerHinge;
  }
  const int32_t firstYear = store.firstYears[i];
  const int32_t length = store.lengths[i];
  const int32_t offset = store.pithOffsets[i];
  const int32_t lastYear = firstYear + length - 1;
  std::string layout =
      "(i" + std::to_string(intWidth(k, 4)) + ",3a,i" + std::to_string(intWidth(firstYear, 5)) +
      ",a,i" + std::to_string(intWidth(lastYear, 5)) + ",a,i" + std::to_string(intWidth(length, 4));
  for (float s : stats) layout += ",a,f" + std::to_string(realWidth(s)) + ".3";
  layout += ",a,i" + std::to_string(intWidth(offset, 3)) + ")";
  const char* sep = kTableSeparator;
  return formatLayout(layout, {k,        sep, store.ids[i], sep, firstYear, sep, lastYear, sep,
                               length,   sep, stats[0],     sep, stats[1],  sep, stats[2], sep,
                               stats[3], sep, stats[4],     sep, offset});
}

void writeLoadingTable(SeriesStore& store, RunLog& log) {
  log.echo(loadingHeader());
  for (int32_t k = 1; k <= store.seriesCount; ++k) log.echo(loadingRow(store, k));
}

void loadAndPrepare(RunContext& ctx) {
  loadInputFile(ctx);
  if (ctx.store.seriesCount == 0) {
    ctx.log.echo(freeLine({ctx.store.skipCount > 0
                               ? "No series is left after screening: every class will be empty."
                               : "The input file holds no series: every class will be empty."}));
  }
  if (ctx.results.keepWidths) ctx.results.widths = ctx.store.values;
  if (ctx.options.powerTransform) powerTransformAll(ctx.store);
  checkPithOffsetCount(ctx.store, ctx.options, ctx.console, ctx.log, ctx.interactive);
  shiftByPithOffsets(ctx.store);
  writeLoadingTable(ctx.store, ctx.log);
}

}  // namespace kavrel

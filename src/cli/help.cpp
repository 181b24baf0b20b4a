#include "cli/help.h"

#include <string>

#include "cli/exit_status.h"
#include "cli/request_checks.h"
#include "cli/version_info.h"
#include "driver/run_request.h"

namespace kavrel::cli {

std::string helpText() {
  const std::string pageSize =
      std::to_string(kDefaultPageWidth) + "x" + std::to_string(kDefaultPageHeight);
  const std::string sides = std::to_string(kMinPageSide) + " to " + std::to_string(kMaxPageSide);
  return R"(Usage:
  kavrel                         the dialogue: kavrel asks for every run option
  kavrel [OPTIONS]               the dialogue, with the options below marked (dialogue)
  kavrel run [INPUT] [OPTIONS]   the whole run without a question
  kavrel --help | --version

kavrel sorts tree-ring width series into five classes by age and early
growth, fits one regional curve per class and writes index series.

Options of a run without questions:
  INPUT                     ring-width file: decade lines, Heidelberg or CSV,
                            told apart by content
  --format decade|heidelberg|csv
                            read INPUT in this format whatever its content
  --pith FILE               pith-offset file; needs --pith-format
  --pith-format FORMAT      read format of one pith-offset record as typed in the
                            dialogue, with or without its quotes: (i3), '(50x,i3)'
  --power                   apply the power transformation
  --outliers LOWER:UPPER    skip series holding a value above UPPER (real numbers,
                            LOWER not above UPPER; LOWER is only logged)
  --age-band MIN:MAX        keep only series of MIN to MAX rings
  --first-years FROM:TO     keep only series whose first year is FROM to TO
  --threshold mean|median   age threshold of the classes (default median)
  --index none|ratio|residual
                            index series as ratios or residuals, or none
                            (default ratio)
  --curve CLASS:OPTION[:ANSWER]
                            after the first pass, refit class CLASS (1-5) with
                            curve option OPTION, as the revision loop does;
                            repeatable, applied in the order given
  --out DIR                 folder of every output file, the log included
                            (default the current folder; created if missing)
  --page FILE               save the regional-curve page after the last curve
                            as a figure for a paper: classes named in words,
                            series counts, curves, the five curves together;
                            a class of over 250 series drawn as a density (no
                            window is opened)
  --recipe FILE.toml        take the options from a recipe; options given on the
                            command line override it (any --curve replaces its
                            curves)
  --save-recipe FILE.toml   at the normal end, write the recipe of this run
  --quiet                   only warnings and errors on the screen: lines that
                            say "warning", the fitting routines' ">> sbr" lines,
                            the file writer's "trrw:" lines, the pith-offset
                            count warning, and the message that ends a failed
                            run; the run log is the same as without --quiet

Options of both (dialogue and run):
  --pith-table FILE.csv     pith offsets by series name: a CSV with columns
                            series and pith.offset (or pith_offset), as R's
                            write.csv writes them; not with --pith. In the
                            dialogue it answers the pith-offset question
  --report                  write the run report and the wide tables
  --chronology              write the chronology (needs indices)
  --chronology-page FILE    save the chronology page (needs indices)
  --page-size WIDTHxHEIGHT  size of saved pages in pixels, )" +
         sides + R"( each
                            (default )" + pageSize + R"()
  --site CODE               site code: 1 to 6 letters, digits, '-' or '_'
  --window LENGTH:LAG       signal statistics in windows of LENGTH years started
                            every LAG years (default 50:25)
  --correlation METHOD      pearson (default) or spearman, for the signal
                            statistics
  --tree-chars K            series whose identifiers share their first K
                            characters are cores of one tree (default 0: every
                            series its own tree)
  --chronology-smooth YEARS stiffness of the chronology page's smoothing
                            spline (default 30)
  --single-curve            one regional curve for every classified series
                            (class 1, "all") instead of the five classes
  --signal-free             refit the class curves to signal-free measurements
                            until the chronology settles (Melvin & Briffa 2008)
  --sf-tolerance X          stop when the chronology changes less (default 0.002)
  --sf-max-passes N         passes after pass 0 at most (default 25)
  --sf-min-depth D          years with fewer series keep their measurements
                            (default 2)
  --sf-robust               the biweight robust mean for the loop's chronology
  --bootstrap N             confidence bands of the chronology from N replicates
                            that resample trees through the whole method
                            (needs indices and --chronology or --chronology-page)
  --seed S                  seed of the replicates' draws (default 1)
  --ci LEVEL                central probability of the bands (default 0.95)
  --threads T               replicate threads (default: the machine's cores)
  --tree-chars K            series whose identifiers share their first K
                            characters are cores of one tree (default 0: each
                            series its own tree)
  --record FILE.toml        (dialogue only) at the normal end, write the recipe of
                            the whole session, revisions included
  -h, --help                this text
  --version                 the version and the git commit of the build

A run without questions shows on standard output the result lines the
dialogue shows (the count of pith offsets, skip lines, the Loading table,
the Processing and Default Curve fit lines, warnings, the termination lines),
but no banner, prompt, menu or pause, and it opens no window. Usage errors go
to standard error. The pith-offset count warning is shown and logged without
waiting for Return.

A flag takes =false to clear what a recipe sets, e.g. --power=false.
Picture files end in .ps, .pdf, .png or .svg. INPUT, --pith, --pith-table,
--recipe and --out are taken from where kavrel was started, page files from
the out folder, recipe files (--save-recipe, --record) from where kavrel was
started.

Curve options (OPTION) and the ANSWER their question reads:
  -5      super smoother: alpha 0..9, 0 most flexible (default 7)
  -4      robust lowess: window of 3 or more values, or -100..-1 percent of
          the series length (ANSWER required)
  -3      running medians: odd window of 3 or more, or -100..-1 percent
          (ANSWER required)
  -2      age-dependent spline: starting stiffness in years (default 75)
  1, 2    negative exponential y = a*exp(b*t) + k, b < 0, k >= 0; if it
          fails: 1 any line, 2 a line with b <= 0
  3       general negative exponential y = a*exp(b*t) + k, b < 0
  4, 5    straight line y = b*t + k, any slope / b <= 0
  6       horizontal line at the mean y = k
  7       Hugershoff y = a*u^c*exp(b*u) + k, u = t + s
  8       general exponential y = a*u*exp(b*u) + k, u = t + s
          (t = 1, 2, ... along the ages with data, as in the run report)
  >9      cubic smoothing spline of stiffness OPTION years
  <-9     cubic smoothing spline of stiffness -OPTION percent of the length
  Every other whole number is taken as the curve-fit menu takes it. Options
  other than -5..-2 take no ANSWER.

Recipes are TOML files with one key per option, named like the long option:
  input, format, pith, pith-format, pith-table, threshold, index, out, page,
  chronology-page, page-size, site (strings); power, report, chronology,
  quiet, single-curve, signal-free, sf-robust (true or false);
  sf-tolerance (a number); sf-max-passes, sf-min-depth (whole numbers);
  outliers = [lower, upper]; age-band = [min, max]; first-years = [from, to];
  curve = ["3:-5:7", "1:4"]; bootstrap, seed, threads, tree-chars (whole
  numbers); ci (a number).
Input paths and out are relative to the recipe's folder, page files to out.

Exit status:
  )" + std::to_string(kExitNormal) +
         R"(  normal end
  )" + std::to_string(kExitRunFailed) +
         R"(  the run failed (a file, the data, or an internal error)
  )" + std::to_string(kExitUsage) +
         R"(  usage error: one message naming the option, nothing written
  )" + std::to_string(kExitStopped) +
         R"(  ended at the user's '/' in the curve-fit menu
)";
}

std::string versionText() {
  std::string text = std::string("kavrel ") + kVersion;
  if (kGitCommit[0] != '\0') text += std::string(" (commit ") + kGitCommit + ")";
  return text + "\n";
}

}  // namespace kavrel::cli

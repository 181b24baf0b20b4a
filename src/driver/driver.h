// The run sequence of the program, from the banner to the termination lines.
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <string>

#include "driver/run_context.h"
#include "driver/run_request.h"
#include "util/fatal.h"

namespace kavrel {

// The text of a recipe that repeats `request` when saved as `file`. The
// command-line module supplies it; the run only writes the text.
using RecipeText =
    std::function<std::string(const RunRequest& request, const std::filesystem::path& file)>;

// Runs the whole program on ctx for `request`.
// With request.interactive (the dialogue): the banner and the run-options
// dialogue, which fill request.options, inputPath and pithPath (resolved
// from the start folder); the revision loop appends each revision made to
// request.revisions.
// Without (a run without questions): the request's options and revisions are
// applied in the dialogue's order with the same screen and log lines, without
// banner, prompts, menus, pauses or plot window, into request.outFolder
// (created when missing); the regional-curve page is saved to
// request.pagePath when set; request.quiet leaves only warnings and errors on
// the screen.
// Either way: the lock on the output folder (a second run in a folder ends at
// once, touching nothing), the environment for the plotting library, the run
// log, the removal of scratch files an interrupted run left, a warning naming
// the result files in the folder that this run will not write, loading and
// screening, the power transformation, the pith-offset shift
// and the Loading table, the first pass over the classes, the revisions, and
// at the normal end the recipe of the run, recipeText(request, path), written
// to request.recordPath (dialogue) or request.saveRecipePath (run) when set,
// the log closed, the manifest kavrel_manifest.toml of the files read and
// written, then the termination lines.
// Conditions that end the run raise Fatal; the caller hands them to
// reportFatal.
void runProgram(RunContext& ctx, RunRequest& request, const RecipeText& recipeText = {});

// The banner lines, each ending in a newline.
const char* bannerText();

// Closes the log and writes the termination lines on the screen: two empty
// lines, 37 asterisks, " Normal Termination of Program", 37 asterisks and two
// empty lines (the layout "(/)" before and after); none when the log is quiet.
void writeTermination(RunContext& ctx);

// Ends a run that raised Fatal: writes each line of its message with one
// leading blank (empty lines stay empty) to the screen and the log, pauses
// for Return when asked (only in the dialogue, and unless input has ended),
// closes the combined index file and the log, and returns the exit status
// (never 0).
int reportFatal(RunContext& ctx, const Fatal& fatal);

// Ends a run on an unexpected internal error the same way, with status 1 (a
// failed run; 2 is kept for usage errors, which end before a run starts).
int reportInternalError(RunContext& ctx, const std::exception& error);

}  // namespace kavrel

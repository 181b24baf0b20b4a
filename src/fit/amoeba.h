// Least-squares fit of the growth-curve family y(t) = a*u^c*exp(b*u) + k,
// u = t + s, by the downhill simplex method (Nelder, J.A. & Mead, R. 1965,
// A simplex method for function minimization, Computer Journal 7: 308-313).
// A result that stopped short of the least-squares minimum is refined by
// Levenberg-Marquardt (Marquardt, D.W. 1963, An algorithm for least-squares
// estimation of nonlinear parameters, J. SIAM 11: 431-441).
// Three members are used, chosen by a model selector:
//   1  a, b, k        (c = 0, s = 0)  general negative exponential
//   2  a, b, s, k     (c = 1)         general exponential
//   3  a, c, b, s, k                  Hugershoff
// The simplex is single precision; the objective sums in double precision and
// returns single precision. Vertex and parameter indices are 0-based here:
// vertex 0 is the starting point, parameter 0 the first free parameter.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "fit/fit_notes.h"

namespace kavrel {

inline constexpr int32_t kSimplexMaxParams = 5;                        // columns
inline constexpr int32_t kSimplexMaxVertices = kSimplexMaxParams + 1;  // rows
inline constexpr int32_t kObjectiveCapacity = 5000;  // most values the objective accepts
inline constexpr float kSimplexTolerance = 1.0e-5f;  // fractional spread of the vertex values
inline constexpr int32_t kSimplexMaxEvaluations = 3000;

// Model selectors.
inline constexpr int32_t kModelNegExp = 1;
inline constexpr int32_t kModelGenExp = 2;
inline constexpr int32_t kModelHugershoff = 3;

// Number of free parameters of a model selector (3, 4 or 5).
int32_t simplexParamCount(int32_t modelSelector);

// One parameter vector (the first paramCount entries are used).
using SimplexPoint = std::array<float, kSimplexMaxParams>;

// The simplex of one fit: vertices[i] is vertex i, values[i] its objective
// value, paramSum[j] the sum of parameter j over the vertices in use.
struct Simplex {
  std::array<SimplexPoint, kSimplexMaxVertices> vertices{};
  std::array<float, kSimplexMaxVertices> values{};
  SimplexPoint paramSum{};
};

// The data a fit is measured against.
struct SimplexProblem {
  int32_t modelSelector = kModelNegExp;   // 1, 2 or 3
  int32_t capacity = kObjectiveCapacity;  // largest accepted n
  int32_t n = 0;                          // number of values
  std::span<const float> abscissa;        // t values (the dispatcher passes 1..n)
  std::span<const float> series;          // values to fit
  FitNotes* notes = nullptr;              // receives the search's lines (none when null)
};

// Model parameters a, b, c, s, k of a point under a model selector.
struct ModelParams {
  float a = 0.0f;
  float b = 0.0f;
  float c = 0.0f;
  float s = 0.0f;
  float k = 0.0f;
};
ModelParams modelParams(const SimplexPoint& point, int32_t modelSelector);

// The fixed vertices 1..P (absolute parameter vectors) of a model selector;
// vertex 0 is the caller's starting point.
SimplexPoint fixedVertex(int32_t modelSelector, int32_t vertex);

// Raises FitFailure (pause, "bye.", an empty line first) when n exceeds
// capacity, with the line "in gamoff ne > nemax: " followed by n and capacity (2i10).
void checkObjectiveCapacity(int32_t n, int32_t capacity);

// Objective: residual sum of squares of the model at `point`, summed in double
// precision over the problem's n values and returned in single precision. A sum
// that is not finite in single precision is returned as +infinity, so that such
// a point always ranks worst. A shifted abscissa u = t + s < 0 raises
// FitFailure ("in gamoff tmd <= 0 at xd." with u and t, pause "this is a fatal
// condition."), as does n > capacity.
float gamoff(const SimplexPoint& point, const SimplexProblem& problem);

// Ranking of the vertices: lowest (ties go to the later vertex), highest and
// next-highest value.
struct SimplexRank {
  int32_t lowest = 0;
  int32_t highest = 0;
  int32_t nextHighest = 0;
};
SimplexRank rankVertices(std::span<const float> values, int32_t vertexCount);

// Trial point paramSum*f1 - vertex[worst]*f2 with f1 = (1 - factor)/P and
// f2 = f1 - factor (reflection -1, expansion 2, contraction 0.5). For
// selectors 2 and 3 a shift s <= 0 is set to 0. The trial point replaces the
// worst vertex when its value is lower. Returns the trial value.
float ametry(Simplex& simplex, int32_t paramCount, int32_t worst, float factor,
             const SimplexProblem& problem);

// Nelder-Mead search on a simplex whose P+1 vertex values are set. Ends when the
// fractional spread 2|yh - yl|/(|yl| + |yh|) is below `tolerance` (the lowest
// vertex is then moved to row 0), or when `evaluations` reaches 3000 (the
// note "** Warning: itmax exceeded in amoeba **"; the simplex is left as it
// stands).
void amoeba(Simplex& simplex, int32_t paramCount, int32_t& evaluations, float tolerance,
            const SimplexProblem& problem);

// Result of one simplex fit.
struct SimplexFit {
  SimplexPoint best{};            // vertex 0 of the final simplex (or its refinement)
  float bestValue = 0.0f;         // its residual sum of squares
  int32_t evaluations = 0;        // evaluations counted by the search
  int32_t refineEvaluations = 0;  // evaluations of the least-squares refinement
  bool refined = false;           // the refinement replaced the simplex result
};

// Sets up the simplex from `start` and the selector's fixed vertices, runs the
// search with tolerance 1e-5, then (when `refine` is set) replaces the result by
// its least-squares refinement if that lowers the objective by more than
// RefineOptions::minGain and its curve is finite in single precision, and writes the model curve at the result into
// fitted[t-1], t = 1..nCurve (t + s as the shifted abscissa, single precision).
SimplexFit gamoeba(const SimplexPoint& start, const SimplexProblem& problem, int32_t nCurve,
                   std::span<float> fitted, bool refine = true);
// The same with the refinement's settings (least_squares_refine.h). When the refined
// result's shift is the shift limit, the note ">> sbr gamoeba: shift
// reached its limit of ..., fit stopped there" says so.
struct RefineOptions;
SimplexFit gamoeba(const SimplexPoint& start, const SimplexProblem& problem, int32_t nCurve,
                   std::span<float> fitted, const RefineOptions& refine);

}  // namespace kavrel

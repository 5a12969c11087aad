// Every tolerance and limit of the method, each with the reason for its value.
#ifndef KELPIE_TOLERANCES_H
#define KELPIE_TOLERANCES_H

namespace kelpie {

// The optimality test behind result 0.
// A point whose first-order residual is at most this is a solution. An entry
// of a gradient from scratch carries rounding of about n * 1e-16 of its terms,
// so sound answers, even of problems with a condition number of 1e12, sit far
// below it; a stop short of the solution (a free gradient entry of 1e-6 of its
// terms, say) sits far above.
constexpr double kOptimalityTolerance = 1e-9;

// The factor.
// A pivot is accepted only when it exceeds this fraction of |H(i,i)|: a
// smaller one means column i is, to working accuracy, a combination of the
// columns already in the factor (or the block is not positive definite), and
// dividing by it would fill L, D and the Newton direction with noise or Inf.
constexpr double kPivotTolerance = 1e-10;

// The Newton step.
// Stands for an infinite end of the interval of feasible step lengths: finite,
// so that the interval's arithmetic stays exact, and beyond any step a finite
// problem can take.
constexpr double kInfiniteStep = 1e300;
// A slope smaller than this fraction of the sum of its terms' magnitudes is
// rounding noise (a few units of 1e-16 per term) and is taken as 0.
constexpr double kSlopeCancellation = 1e-13;
// Along the direction d of a dependent variable, d'Hd is zero only to within
// the pivot tolerance eps, so a problem that is bounded along d (f in the
// range of H) still shows a slope of up to about sqrt(eps) times the size of
// the terms that make up g . d (for H = A'A: |g . d| <= |Ax - b| |A d|). Only
// a slope above that is evidence that the objective falls without limit.
constexpr double kDependentSlopeCancellation = 1e-5;  // the square root of kPivotTolerance

// The main loop.
// A sweep may make at most this many visits per variable. A symmetric H never
// comes near it; a non-symmetric one can make the sweep cycle forever.
constexpr long long kMaxSweepVisitsPerVariable = 100;
// Starting value of the best doubled objective, and the size beyond which an
// objective cannot measure a decrease: finite, so that a pass value of +Inf
// never counts as a decrease.
constexpr double kInitialBestValue = 1e300;
// Full sweeps in a row with an unchanged free count that end a run of the
// loop: the free set has settled, and Newton steps no longer change it.
constexpr int kStallSweeps = 4;
// A decrease above this fraction of the size of the objective's terms is real
// progress, not rounding (which is a few units of 1e-16 per term).
constexpr double kSignificantDecrease = 1e-12;
// A run of the main loop goes on from a stop that fails the optimality test
// this many times before it hands over to the proximal steps: enough for a
// stop that came a pass too early, few enough that a stuck loop costs little.
constexpr int kMaxResumes = 3;

// The accelerated method.
// Newton steps in a row that end on a bound before the accelerated method
// follows them along the projected path: before that, projected steps tend to
// fix variables the next sweep frees again.
constexpr int kCutStepsBeforeProjecting = 2;
// Armijo's constant: a point on the path is taken when the objective falls by
// at least this share of what the slope promises for the move to it.
constexpr double kSufficientDecrease = 1e-4;
// How many times as fast a factor built anew does its multiply-adds (each
// addition past the last member, eight at a time in one pass over L) as the
// modifications of members leaving or entering in between do theirs: 14-16
// against about 2.7 billion a second, measured at n = 2000 on one core here.
// LAPACK's dpotrf, which builds it since (factor_from_scratch.cpp), runs at
// about twice the additions' rate with OpenBLAS's kernels for the machine's
// vector instructions and at 0.6 of it with its generic ones; 10 and 20 here
// measured no faster than 5 on the least-squares fits at n = 2000.
constexpr double kBatchedBuildSpeedup = 5.0;
// Free sets below this many variables are left to the additions when the
// factor is built anew: up to about here dpotrf gains nothing on them (at 300
// variables both took about 0.7 ms; at 600, 3.7 ms against 6.0 ms), and with
// 64 as the bound the accelerated method took up to 1.09 of the described
// method's time at n = 200, in changed rounding alone.
constexpr int kSmallestBlockBuild = 300;
// Halvings of t tried before the search gives up: 2^-30 of a Newton step is
// below anything that fixes a bound usefully.
constexpr int kMaxHalvings = 30;

// Proximal point steps.
// rho as a fraction of the largest entry of H in size: large enough that
// pivots of about rho stand far above the rounding of the factor's
// eliminations (about 1e-16 of H's entries times the growth of a few
// eliminations), small enough that the steps contract fast.
constexpr double kProximalWeight = 1e-6;
// The accelerated method's first proximal step at kProximalWeight, where
// block exchanges do not solve it, may take n / kFirstStepNewtonShare Newton
// steps of the main loop (100 at n = 2000). One that needs more is nearly the
// whole problem on blocks with a condition number of about 1e6 (on the
// least-squares problems wider than tall at n = 2000, 300 of 400 passes): the
// steps then start over from the point reached with kFirstAcceleratedWeight
// of H's largest entry, lowered by kWeightContinuation per step down to
// kProximalWeight. From 1e-4 the blocks have a condition number of about
// 1e4. n/10 (or no budget, the weights from the start) measured slower; so
// did first weights of 1e-3, 2e-4 and 5e-5, and factors of 0.2 and 0.05.
constexpr int kFirstStepNewtonShare = 20;
constexpr double kFirstAcceleratedWeight = 1e-4;
constexpr double kWeightContinuation = 0.1;
// Below this many variables the first step at kProximalWeight takes a few
// dozen passes of microseconds, and the factors the larger weights add cost
// more than they save (n = 200: `rank 2` and the nonconvex family took 1.22
// of the described method's time with them, 1.07 and 1.02 without).
constexpr int kSmallestContinuation = 300;
// A step that leaves more than this share of the residual contracts slowly;
// rho then shrinks by kWeightReduction, down to kSmallestWeight of H's
// largest entry (where its pivots still stand above the factor's rounding).
constexpr double kSlowContraction = 0.5;
constexpr double kWeightReduction = 1e-2;
constexpr double kSmallestWeight = 1e-12;
// A residual at which a gradient from scratch shows mostly its own rounding
// (entries carry about sqrt(n) * 1e-16 of their terms, and more): below it a
// step that contracts little is no sign of eigenvalues below rho.
constexpr double kRoundingResidual = 1e-12;
// Steps before the refinement gives up with the iteration-limit code.
constexpr int kMaxProximalSteps = 200;
// Residual at which the steps stop: the rounding of a gradient from scratch.
constexpr double kRefinementTarget = 1e-15;
// The residual each step's solve aims for. Its stop rules see the objective,
// which changes with the square of a gradient error over a curvature as
// small as rho: they can end with a residual near sqrt(1e-16 rho / |H|), far
// above the rounding of the gradient; the loop then goes on from there.
constexpr double kStepTolerance = 1e-14;
// Steps that may pass without halving the residual once it passes the test.
constexpr int kPatience = 5;
// Exchanges of whole sets in one attempt at a proximal subproblem
// (block_exchange.cpp). Each costs a factor of the free block; where they
// succeed they take a handful (at most 7 on the benchmark families), and the
// count of wrong-sided variables must fall at every one.
constexpr int kMaxExchanges = 25;
// A curvature below this fraction of the size of its terms is rounding.
constexpr double kNullCurvature = 1e-12;
// A rise of the doubled objective beyond this fraction of the size of its
// terms is not rounding.
constexpr double kObjectiveRounding = 1e-12;

}  // namespace kelpie

#endif

// mirvante._mirvante: the app layer for Python.  A file goes through
// analyseFile, the command line's own route for one file; arrays go through
// analyseMatrices.  The analysis runs with the interpreter's lock released,
// so that other Python threads go on meanwhile, and the numbers a Result
// shows are views of the run's own values, not copies.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "analysis/fragments.h"
#include "analysis/multicenter.h"
#include "app/batch.h"
#include "app/cli.h"
#include "app/matrices.h"
#include "app/pipeline.h"
#include "core/elements.h"
#include "app/series.h"
#include "core/parallel.h"
#include "report/json.h"
#include "report/series_report.h"

namespace py = pybind11;

namespace {

constexpr int kMaxJobs = 4096;

// One analysed input: its values (shared by the arrays handed out), the
// JSON line, the text report and what the drawing needs.
struct Run {
  std::shared_ptr<mv::RunResults> results;
  std::string json;
  std::string report;
  mv::BatchOptions options;  // the drawing's: its threshold and labels
  bool ok = false;
};

int checkedJobs(int jobs) {
  if (jobs < 1 || jobs > kMaxJobs)
    throw py::value_error("jobs must be from 1 to " + std::to_string(kMaxJobs) + ", not " +
                          std::to_string(jobs));
  return jobs;
}

double checkedMinBond(double minBond) {
  if (!std::isfinite(minBond)) throw py::value_error("min_bond must be a finite number");
  return minBond;
}

// The groups of atoms asked for, in the command line's form (atoms from 1;
// the package turns lists counted from 0 into it); None for none.
using Spec = std::optional<std::string>;

struct Groups {
  mv::FragmentRequest fragments;
  std::vector<std::vector<int>> rings;
};

Groups parsedGroups(const Spec& fragments, const Spec& multicenter) {
  Groups g;
  try {
    if (fragments) g.fragments = mv::parseFragments(*fragments);
  } catch (const std::invalid_argument& e) {
    throw py::value_error("fragments '" + *fragments + "': " + e.what());
  }
  try {
    if (multicenter) g.rings = mv::parseRings(*multicenter);
  } catch (const std::invalid_argument& e) {
    throw py::value_error("multicenter '" + *multicenter + "': " + e.what());
  }
  return g;
}

// As the command line's --density: a kind such as "SCF" or "MP2"; "" for
// the last total density of the file.
mv::BatchOptions batchOptions(double minBond, const std::string& density, bool lowdin,
                              const Spec& fragments, const Spec& multicenter) {
  mv::BatchOptions o;
  o.minBond = checkedMinBond(minBond);
  o.lowdin = lowdin;
  if (!density.empty() && density.find_first_not_of(' ') == std::string::npos)
    throw py::value_error("density needs a kind of density, such as SCF or MP2");
  o.density = density;
  Groups g = parsedGroups(fragments, multicenter);
  o.fragments = std::move(g.fragments);
  o.rings = std::move(g.rings);
  o.keep = true;
  return o;
}

Run fromFileResult(mv::FileResult&& f, const mv::BatchOptions& options) {
  Run r;
  r.results = std::move(f.run);
  r.json = std::move(f.json);
  r.report = std::move(f.output);
  r.options = options;
  r.ok = f.ok;
  return r;
}

// A failure that analyseFile lets through (it turns stops and a lack of
// memory into results itself) still becomes a failed result, as a stop.
Run failedRun(const std::string& file, const std::string& what, const mv::BatchOptions& options) {
  mv::Stop s;
  s.status = mv::kStatusInputError;
  s.detail = what;
  mv::JsonInput in;
  in.file = file;
  in.stop = &s;
  Run r;
  r.results = std::make_shared<mv::RunResults>();
  r.json = mv::jsonLine(in);
  r.options = options;
  return r;
}

Run analyseOne(const std::string& file, const mv::BatchOptions& options, const mv::Parallel& par) {
  try {
    return fromFileResult(mv::analyseFile(file, options, false, par), options);
  } catch (const std::exception& e) {
    return failedRun(file, e.what(), options);
  }
}

// A result that a thread of its own hands over when its analysis is done.
struct Pending {
  std::mutex m;
  std::condition_variable done;
  std::optional<Run> run;
};

// Run `work` on a thread of its own and wait for its result with the
// interpreter's lock released, looking at the interpreter's signals every
// 0.1 s: Ctrl-C raises KeyboardInterrupt at once, and the analysis under way
// finishes on its thread with its result dropped (it shares nothing with
// the caller but `Pending`, and what `abandon` keeps alive for it).
template <typename Work>
Run interruptible(
    Work work, const std::function<void()>& abandon = [] {}) {
  auto pending = std::make_shared<Pending>();
  std::thread worker([pending, work = std::move(work)]() mutable {
    Run r = work();
    const std::lock_guard<std::mutex> lock(pending->m);
    pending->run = std::move(r);
    pending->done.notify_all();
  });
  for (;;) {
    {
      py::gil_scoped_release unlocked;
      std::unique_lock<std::mutex> lock(pending->m);
      if (pending->done.wait_for(lock, std::chrono::milliseconds(100),
                                 [&] { return pending->run.has_value(); })) {
        lock.unlock();
        worker.join();
        return std::move(*pending->run);
      }
    }
    if (PyErr_CheckSignals() != 0) {
      abandon();
      worker.detach();
      throw py::error_already_set();
    }
  }
}

Run analysePath(const std::string& file, double minBond, int jobs, const std::string& density,
                bool lowdin, const Spec& fragments, const Spec& multicenter) {
  const mv::BatchOptions options = batchOptions(minBond, density, lowdin, fragments, multicenter);
  checkedJobs(jobs);
  return interruptible([file, options, jobs] {
    mv::ThreadPool pool(jobs);
    const mv::Parallel par(pool, jobs);
    return analyseOne(file, options, par);
  });
}

// A read-only array over memory that `owner` keeps alive.
template <typename T>
py::array view(const std::shared_ptr<mv::RunResults>& owner, const T* data,
               std::vector<py::ssize_t> shape, std::vector<py::ssize_t> strides) {
  auto* keep = new std::shared_ptr<mv::RunResults>(owner);
  py::capsule base(keep, [](void* p) { delete static_cast<std::shared_ptr<mv::RunResults>*>(p); });
  py::array a(py::dtype::of<T>(), std::move(shape), std::move(strides), data, base);
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

py::object atomVector(const Run& r, const mv::Vec1<double> mv::BondOrders::*member) {
  if (!r.ok) return py::none();
  const mv::Vec1<double>& v = (*r.results).bonds.*member;
  return view(r.results, v.data(), {v.size()}, {static_cast<py::ssize_t>(sizeof(double))});
}

py::object vectorView(const Run& r, const mv::Vec1<double>& v) {
  return view(r.results, v.data(), {v.size()}, {static_cast<py::ssize_t>(sizeof(double))});
}

py::object matrixView(const Run& r, const mv::Matrix& m) {
  if (m.empty()) return py::none();
  const auto d = static_cast<py::ssize_t>(sizeof(double));
  return view(r.results, m.col(1), {m.rows(), m.cols()}, {d, d * m.ld()});
}

// A value of the fragments of a complete run that asked for them, else None.
template <typename F>
py::object fragmentValue(const Run& r, F value) {
  if (!r.ok || !r.results->fragments) return py::none();
  return value(*r.results->fragments);
}

// Lists of atoms counted from 0, one integer array each.
py::list atomLists(const std::vector<std::vector<int>>& lists) {
  py::list out;
  for (const std::vector<int>& atoms : lists) {
    py::array_t<long long> a(static_cast<py::ssize_t>(atoms.size()));
    auto w = a.mutable_unchecked<1>();
    for (std::size_t k = 0; k < atoms.size(); ++k) w(static_cast<py::ssize_t>(k)) = atoms[k] - 1;
    out.append(a);
  }
  return out;
}

// One number of every ring of a complete run that asked for them, else None.
py::object ringValues(const Run& r, double mv::MulticenterIndex::*member) {
  if (!r.ok || !r.results->multicenter) return py::none();
  const std::vector<mv::MulticenterIndex>& rings = r.results->multicenter->rings;
  py::array_t<double> a(static_cast<py::ssize_t>(rings.size()));
  auto w = a.mutable_unchecked<1>();
  for (std::size_t k = 0; k < rings.size(); ++k) w(static_cast<py::ssize_t>(k)) = rings[k].*member;
  return a;
}

// The analyses still to be written out, in input order: files are started
// up to `window` ahead of the one the caller waits for, on a pool of `jobs`
// threads that also lends idle threads to the files in progress.
class Batch {
 public:
  Batch(std::vector<std::string> files, int jobs, double minBond, const std::string& density,
        bool lowdin, const Spec& fragments, const Spec& multicenter)
      : files_(std::move(files)),
        options_(batchOptions(minBond, density, lowdin, fragments, multicenter)),
        jobs_(checkedJobs(jobs)),
        slots_(files_.size()),
        pool_(std::make_unique<mv::ThreadPool>(jobs_ + 1)),
        par_(*pool_, jobs_) {}

  ~Batch() {
    // Files not yet started are skipped; those under way finish first.
    cancelled_.store(true);
    py::gil_scoped_release unlocked;
    pool_.reset();
  }

  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  Run next() {
    if (next_ >= files_.size()) throw py::stop_iteration();
    submitAhead();
    std::optional<Run> r;
    while (!r) {
      {
        py::gil_scoped_release unlocked;
        std::unique_lock<std::mutex> lock(m_);
        ready_.wait_for(lock, std::chrono::milliseconds(100),
                        [&] { return slots_[next_].has_value(); });
        if (slots_[next_]) {
          r = std::move(slots_[next_]);
          slots_[next_].reset();
        }
      }
      // Ctrl-C while waiting raises KeyboardInterrupt here.
      if (!r && PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    ++next_;
    submitAhead();
    return std::move(*r);
  }

 private:
  void submitAhead() {
    const std::size_t window = 2 * static_cast<std::size_t>(jobs_) + 2;
    while (submitted_ < files_.size() && submitted_ < next_ + window) {
      const std::size_t i = submitted_++;
      pool_->submit([this, i]() {
        Run r = cancelled_.load() ? failedRun(files_[i], "not analysed", options_)
                                  : analyseOne(files_[i], options_, par_);
        const std::lock_guard<std::mutex> lock(m_);
        slots_[i] = std::move(r);
        ready_.notify_all();
      });
    }
  }

  std::vector<std::string> files_;
  mv::BatchOptions options_;
  int jobs_;
  std::vector<std::optional<Run>> slots_;
  std::mutex m_;
  std::condition_variable ready_;
  std::atomic<bool> cancelled_{false};
  std::size_t submitted_ = 0, next_ = 0;
  std::unique_ptr<mv::ThreadPool> pool_;
  mv::Parallel par_;
};

// A numpy array as the analysis reads it, without a copy when it already
// holds doubles.
using Doubles = py::array_t<double, py::array::forcecast>;

mv::StridedMatrix strided(const Doubles& a, const char* name) {
  if (a.ndim() != 2)
    throw py::value_error(std::string(name) + " must be a 2-dimensional array, not " +
                          std::to_string(a.ndim()) + "-dimensional");
  mv::StridedMatrix m;
  m.data = a.data();
  m.rows = a.shape(0);
  m.cols = a.shape(1);
  m.rowStride = a.strides(0) / static_cast<py::ssize_t>(sizeof(double));
  m.colStride = a.strides(1) / static_cast<py::ssize_t>(sizeof(double));
  return m;
}

// Doubles aligned to their size, as the strides above assume; numpy makes
// them so except for views into raw buffers.
Doubles aligned(py::handle h, const char* name) {
  Doubles a = Doubles::ensure(h);
  if (!a) throw py::value_error(std::string(name) + " must be an array of numbers");
  const bool ok = reinterpret_cast<std::uintptr_t>(a.data()) % alignof(double) == 0 &&
                  std::all_of(a.strides(), a.strides() + a.ndim(),
                              [](py::ssize_t s) { return s % sizeof(double) == 0; });
  if (!ok) a = Doubles(py::module_::import("numpy").attr("ascontiguousarray")(a));
  return a;
}

template <typename T>
std::vector<T> vector1(py::handle h, const char* name) {
  py::array_t<T, py::array::forcecast | py::array::c_style> a =
      py::array_t<T, py::array::forcecast | py::array::c_style>::ensure(h);
  if (!a) throw py::value_error(std::string(name) + " must be an array of numbers");
  if (a.ndim() != 1)
    throw py::value_error(std::string(name) + " must be a 1-dimensional array, not " +
                          std::to_string(a.ndim()) + "-dimensional");
  return std::vector<T>(a.data(), a.data() + a.size());
}

// Integers given as floats (1.0) are taken; 1.5 is not an index.
std::vector<long long> indices(py::handle h, const char* name) {
  const std::vector<double> v = vector1<double>(h, name);
  std::vector<long long> out(v.size());
  for (std::size_t k = 0; k < v.size(); ++k) {
    if (!std::isfinite(v[k]) || v[k] != std::floor(v[k]) || std::fabs(v[k]) > 1e15)
      throw py::value_error(std::string(name) + "[" + std::to_string(k) + "] is not an integer: " +
                            py::repr(py::float_(v[k])).cast<std::string>());
    out[k] = static_cast<long long>(v[k]);
  }
  return out;
}

Run analyseArrays(py::handle overlap, py::handle density, py::handle basisAtom,
                  py::handle atomicNumbers, py::handle spinDensity, py::handle coordinates,
                  py::handle nuclearCharges, double minBond, int jobs,
                  std::optional<long long> electrons, bool lowdin, const Spec& fragments,
                  const Spec& multicenter) {
  checkedJobs(jobs);
  Groups groups = parsedGroups(fragments, multicenter);
  const Doubles s = aligned(overlap, "overlap");
  const Doubles p = aligned(density, "density");
  std::optional<Doubles> ps;
  mv::MatrixInput in;
  in.minBond = checkedMinBond(minBond);
  in.electrons = electrons;
  in.lowdin = lowdin;
  in.fragments = std::move(groups.fragments);
  in.rings = std::move(groups.rings);
  in.overlap = strided(s, "overlap");
  in.density = strided(p, "density");
  if (!spinDensity.is_none()) {
    ps = aligned(spinDensity, "spin_density");
    in.spin = strided(*ps, "spin_density");
  }
  in.basisAtom = indices(basisAtom, "basis_atom");
  in.atomicNumbers = indices(atomicNumbers, "atomic_numbers");
  if (!coordinates.is_none()) {
    const Doubles c = aligned(coordinates, "coordinates");
    if (c.ndim() != 2 || c.shape(1) != 3)
      throw py::value_error("coordinates must be an array of shape (atoms, 3)");
    const mv::StridedMatrix m = strided(c, "coordinates");
    for (std::ptrdiff_t a = 0; a < m.rows; ++a)
      for (std::ptrdiff_t x = 0; x < 3; ++x) in.coordinates.push_back(m.at(a, x));
  }
  if (!nuclearCharges.is_none())
    in.nuclearCharges = vector1<double>(nuclearCharges, "nuclear_charges");
  try {
    mv::checkMatrixInput(in);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }

  // The analysis reads the caller's arrays (through `in`) until it has
  // copied them; when it is abandoned to an interrupt, they are kept alive
  // for it for good (a reference that is never given back).
  auto input = std::make_shared<mv::MatrixInput>(std::move(in));
  auto keepArrays = [&] {
    s.inc_ref();
    p.inc_ref();
    if (ps) ps->inc_ref();
  };
  Run r = interruptible(
      [input, jobs] {
        mv::ThreadPool pool(jobs);
        const mv::Parallel par(pool, jobs);
        mv::MatrixRun m = mv::analyseMatrices(*input, par);
        Run run;
        run.ok = m.run.complete && !m.stop;
        run.results = std::make_shared<mv::RunResults>(std::move(m.run));
        run.json = std::move(m.json);
        run.report = std::move(m.report);
        run.options.minBond = input->minBond;
        return run;
      },
      keepArrays);
  return r;
}

// The command line in this process (python -m mirvante): its options and
// files, standard output and error, and its exit status.  An interrupt ends
// the batch as it ends the program's.
volatile std::sig_atomic_t commandLineInterrupted = 0;
extern "C" void onCommandLineInterrupt(int) {
  commandLineInterrupted = 1;
}

int commandLine(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  py::gil_scoped_release unlocked;
  commandLineInterrupted = 0;
  struct sigaction act {
  }, oldInt{}, oldTerm{};
  act.sa_handler = onCommandLineInterrupt;
  sigemptyset(&act.sa_mask);
  sigaction(SIGINT, &act, &oldInt);
  sigaction(SIGTERM, &act, &oldTerm);
  int status = mv::kStatusInputError;
  try {
    status = mv::runCommandLine(static_cast<int>(args.size()), argv.data(), std::cout, std::cerr,
                                &commandLineInterrupted);
  } catch (const std::exception& e) {
    std::cerr << "mirvante: " << e.what() << '\n';
  }
  std::cout.flush();
  std::cerr.flush();
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  return status;
}

// A series of frames: its values, its JSON object, and the diagnostics of
// the frames left out (one line each, as the command line prints them).
struct SeriesRun {
  mv::Series series;
  std::string json;
  std::vector<std::string> diagnostics;
  std::vector<std::pair<std::string, std::string>> skipped;  // file, diagnostic
  int status = 0;
};

SeriesRun analyseSeries(const std::vector<std::string>& files,
                        const std::vector<std::pair<int, int>>& bonds, double minBond, int jobs,
                        const std::string& density) {
  mv::BatchOptions options = batchOptions(minBond, density, false, std::nullopt, std::nullopt);
  options.keep = false;
  options.jobs = checkedJobs(jobs);
  options.files = files;
  for (const auto& [a, b] : bonds) options.seriesBonds.emplace_back(std::min(a, b), std::max(a, b));
  SeriesRun r;
  std::ostringstream out, err;
  {
    py::gil_scoped_release unlocked;
    // No interrupt reaches this batch: Ctrl-C is seen once it returns.
    const volatile std::sig_atomic_t never = 0;
    mv::SeriesOutcome o = mv::collectSeries(options, out, err, &never);
    r.series = std::move(o.series);
    r.status = o.refusedBonds ? -1 : o.status;
    r.skipped = std::move(o.skipped);
  }
  std::istringstream lines(err.str());
  for (std::string line; std::getline(lines, line);) r.diagnostics.push_back(line);
  if (r.status >= 0) r.json = mv::seriesJson(r.series);
  return r;
}

}  // namespace

PYBIND11_MODULE(_mirvante, m) {
  m.doc() = "The compiled part of mirvante; use the mirvante package instead.";
  m.attr("max_jobs") = kMaxJobs;
  m.attr("default_jobs") = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  py::class_<Run>(m, "Run")
      .def_readonly("ok", &Run::ok)
      .def_readonly("json", &Run::json)
      .def_readonly("report", &Run::report)
      .def("svg",
           [](const Run& r) -> py::object {
             if (!r.ok) return py::none();
             std::string s;
             {
               py::gil_scoped_release unlocked;
               s = mv::drawing(*r.results, r.options);
             }
             return py::str(s);
           })
      .def_property_readonly("populations",
                             [](const Run& r) -> py::object {
                               if (!r.ok) return py::none();
                               const mv::Vec1<double>& q = r.results->populations.qat;
                               return view(r.results, q.data(), {q.size()},
                                           {static_cast<py::ssize_t>(sizeof(double))});
                             })
      .def_property_readonly("charges",
                             [](const Run& r) -> py::object {
                               if (!r.ok) return py::none();
                               const mv::RunResults& x = *r.results;
                               const int n = x.populations.qat.size();
                               py::array_t<double> c(n);
                               auto w = c.mutable_unchecked<1>();
                               for (int a = 1; a <= n; ++a)
                                 w(a - 1) = x.ck.nuclearCharge(a) - x.populations.qat(a);
                               return c;
                             })
      .def_property_readonly("total_valence",
                             [](const Run& r) { return atomVector(r, &mv::BondOrders::total); })
      .def_property_readonly("bonded_valence",
                             [](const Run& r) { return atomVector(r, &mv::BondOrders::used); })
      .def_property_readonly("free_valence",
                             [](const Run& r) { return atomVector(r, &mv::BondOrders::free); })
      .def_property_readonly(
          "bond_orders",
          [](const Run& r) -> py::object {
            if (!r.ok) return py::none();
            const mv::Matrix& b = r.results->bonds.bonds;
            const auto d = static_cast<py::ssize_t>(sizeof(double));
            return view(r.results, b.col(1), {b.rows(), b.cols()}, {d, d * b.ld()});
          })
      .def_property_readonly("fragment_atoms",
                             [](const Run& r) {
                               return fragmentValue(r, [](const mv::FragmentAnalysis& f) {
                                 return py::object(atomLists(f.atoms));
                               });
                             })
      .def_property_readonly("fragment_charges",
                             [](const Run& r) {
                               return fragmentValue(r, [&](const mv::FragmentAnalysis& f) {
                                 return vectorView(r, f.charge);
                               });
                             })
      .def_property_readonly("fragment_spins",
                             [](const Run& r) {
                               return fragmentValue(r, [&](const mv::FragmentAnalysis& f) {
                                 return f.spin.size() > 0 ? vectorView(r, f.spin) : py::none();
                               });
                             })
      .def_property_readonly("fragment_valences",
                             [](const Run& r) {
                               return fragmentValue(r, [&](const mv::FragmentAnalysis& f) {
                                 return vectorView(r, f.valence);
                               });
                             })
      .def_property_readonly("fragment_bond_orders",
                             [](const Run& r) {
                               return fragmentValue(r, [&](const mv::FragmentAnalysis& f) {
                                 return matrixView(r, f.bonds);
                               });
                             })
      .def_property_readonly("fragment_bond_orders_alpha",
                             [](const Run& r) {
                               return fragmentValue(r, [&](const mv::FragmentAnalysis& f) {
                                 return matrixView(r, f.alpha);
                               });
                             })
      .def_property_readonly("fragment_bond_orders_beta",
                             [](const Run& r) {
                               return fragmentValue(r, [&](const mv::FragmentAnalysis& f) {
                                 return matrixView(r, f.beta);
                               });
                             })
      .def_property_readonly("fragment_wiberg_lowdin",
                             [](const Run& r) {
                               return fragmentValue(r, [&](const mv::FragmentAnalysis& f) {
                                 return matrixView(r, f.wiberg);
                               });
                             })
      .def_property_readonly("multicenter_atoms",
                             [](const Run& r) -> py::object {
                               if (!r.ok || !r.results->multicenter) return py::none();
                               std::vector<std::vector<int>> atoms;
                               for (const mv::MulticenterIndex& x : r.results->multicenter->rings)
                                 atoms.push_back(x.atoms);
                               return atomLists(atoms);
                             })
      .def_property_readonly(
          "multicenter_index",
          [](const Run& r) { return ringValues(r, &mv::MulticenterIndex::index); })
      .def_property_readonly(
          "multicenter_normalized",
          [](const Run& r) { return ringValues(r, &mv::MulticenterIndex::normalized); })
      .def_property_readonly("multicenter_formula", [](const Run& r) -> py::object {
        if (!r.ok || !r.results->multicenter) return py::none();
        return py::str(mv::formulaName(r.results->multicenter->formula));
      });

  m.def("analyse_file", &analysePath, py::arg("path"), py::arg("min_bond"), py::arg("jobs"),
        py::arg("density"), py::arg("lowdin"), py::arg("fragments"), py::arg("multicenter"));
  m.def("command_line", &commandLine, py::arg("args"));
  {
    py::list symbols;
    for (int z = 0; z <= mv::kMaxElement; ++z) symbols.append(std::string(mv::elementSymbol(z)));
    m.attr("element_symbols") = symbols;
  }
  m.attr("version") = MIRVANTE_VERSION;

  py::class_<Batch>(m, "Batch")
      .def(py::init<std::vector<std::string>, int, double, const std::string&, bool, const Spec&,
                    const Spec&>(),
           py::arg("paths"), py::arg("jobs"), py::arg("min_bond"), py::arg("density"),
           py::arg("lowdin"), py::arg("fragments"), py::arg("multicenter"))
      .def("__iter__", [](Batch& b) -> Batch& { return b; })
      .def("__next__", &Batch::next);

  py::class_<SeriesRun>(m, "SeriesRun")
      .def_readonly("json", &SeriesRun::json)
      .def_readonly("diagnostics", &SeriesRun::diagnostics)
      .def_readonly("status", &SeriesRun::status)
      .def_readonly("skipped", &SeriesRun::skipped)
      .def_property_readonly("bond_orders",
                             [](const SeriesRun& r) {
                               const mv::Series& s = r.series;
                               py::array_t<double> a({s.bonds.size(), s.frames()});
                               auto w = a.mutable_unchecked<2>();
                               for (std::size_t b = 0; b < s.bonds.size(); ++b)
                                 for (std::size_t k = 0; k < s.frames(); ++k)
                                   w(static_cast<py::ssize_t>(b), static_cast<py::ssize_t>(k)) =
                                       s.bondOrders[b][k];
                               return a;
                             })
      .def("text",
           [](const SeriesRun& r) {
             std::ostringstream out;
             mv::writeSeriesText(out, r.series);
             return out.str();
           })
      .def("svg", [](const SeriesRun& r) {
        std::ostringstream out;
        {
          py::gil_scoped_release unlocked;
          mv::writeSeriesSvg(out, r.series);
        }
        return py::str(out.str());
      });

  m.def("analyse_series", &analyseSeries, py::arg("paths"), py::arg("bonds"), py::arg("min_bond"),
        py::arg("jobs"), py::arg("density"));

  m.def("analyse_arrays", &analyseArrays, py::arg("overlap"), py::arg("density"),
        py::arg("basis_atom"), py::arg("atomic_numbers"), py::arg("spin_density"),
        py::arg("coordinates"), py::arg("nuclear_charges"), py::arg("min_bond"), py::arg("jobs"),
        py::arg("electrons"), py::arg("lowdin"), py::arg("fragments"), py::arg("multicenter"));
}

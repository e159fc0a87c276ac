// Cost of planning scheduled actions and of selecting candidates as the
// number of packages grows, on repositories shaped like a board's: layered
// dependencies on nearby packages, provided service names, conflicts with
// disabled legacy packages, bundles, and a sprinkling of scheduled actions.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/repository.h"
#include "planning/action_planning.h"
#include "planning/candidates.h"

namespace {

const Version kBase = makeVersion(1, 0, 'f', 0);

// A small deterministic generator, so every run measures the same graph.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  uint32_t next(uint32_t bound) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % bound;
  }

 private:
  uint32_t state_;
};

Dependency named(const std::string& name, Version min = 0, Version max = 0, int32_t priority = 0) {
  Dependency dependency;
  dependency.name = name;
  dependency.min = min;
  dependency.max = max;
  dependency.priority = priority;
  return dependency;
}

std::string packageName(int index) { return "pkg" + std::to_string(index); }

// Package i depends on up to three of the 40 packages before it, every tenth
// provides a service that later ones may ask for, every 25th conflicts with a
// disabled legacy package, and every 20 consecutive packages form a bundle.
void fillPackages(std::vector<std::unique_ptr<Package>>* packages, int count, Lcg* random) {
  for (int i = 0; i < count; ++i) {
    auto package = std::make_unique<Package>(packageName(i));
    package->version = kBase + static_cast<Version>(random->next(4) << 16);
    package->buildTime = 1000 + i;
    const int dependencies = i == 0 ? 0 : static_cast<int>(random->next(4));
    for (int d = 0; d < dependencies; ++d) {
      const int window = i < 40 ? i : 40;
      package->depends.push_back(named(packageName(i - 1 - static_cast<int>(random->next(window)))));
    }
    if (i % 10 == 0) package->provides.push_back(named("svc" + std::to_string(i / 10), kBase, 0, 1));
    if (i > 10 && i % 7 == 0) package->depends.push_back(named("svc" + std::to_string(random->next(i / 10))));
    if (i % 25 == 0) package->conflicts.push_back(named("legacy" + std::to_string(i / 25)));
    if (i % 20 != 19) package->bundle = named("bundle" + std::to_string(i / 20), kBase, kBase);
    packages->push_back(std::move(package));
  }
}

void addBundlesAndLegacy(Repository* repository, int count) {
  for (int b = 0; b * 20 < count; ++b) {
    auto bundle = std::make_unique<Package>("bundle" + std::to_string(b));
    bundle->version = kBase;
    bundle->isBundle = true;
    repository->packages.push_back(std::move(bundle));
  }
  for (int l = 0; l * 25 < count; ++l) {
    auto legacy = std::make_unique<Package>("legacy" + std::to_string(l));
    legacy->version = kBase;
    legacy->disabled = true;
    repository->packages.push_back(std::move(legacy));
  }
}

// About 4% of the packages scheduled for uninstall, 3% for disable, and 5%
// disabled, of which half are to be enabled again.
void scheduleActions(Repository* repository, Lcg* random) {
  for (const auto& package : repository->packages) {
    if (package->isBundle || package->name.compare(0, 6, "legacy") == 0) continue;
    const uint32_t roll = random->next(100);
    if (roll < 4) {
      package->action = PackageAction::Uninstall;
    } else if (roll < 7) {
      package->action = PackageAction::Disable;
    } else if (roll < 12) {
      package->disabled = true;
      if (roll < 10) package->action = PackageAction::Enable;
    }
  }
}

std::unique_ptr<Repository> makeRepository(int count) {
  Lcg random(2024);
  auto repository = std::make_unique<Repository>();
  fillPackages(&repository->packages, count, &random);
  addBundlesAndLegacy(repository.get(), count);
  scheduleActions(repository.get(), &random);
  return repository;
}

void BM_PlanActions(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::unique_ptr<Repository> repository = makeRepository(count);
  std::vector<PackageAction> scheduled;
  for (const auto& package : repository->packages) scheduled.push_back(package->action);

  Plan plan;
  for (auto _ : state) {
    for (size_t i = 0; i < scheduled.size(); ++i) repository->packages[i]->action = scheduled[i];
    plan = planActions(*repository);
    benchmark::DoNotOptimize(plan.accepted);
  }
  state.counters["removals"] = static_cast<double>(plan.removals.size());
  state.counters["enables"] = static_cast<double>(plan.enables.size());
  state.SetComplexityN(count);
}

// Candidates: one package file per package, plus an older file for every
// eighth package, in an order that puts dependants before what they need.
void BM_SelectCandidates(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Lcg random(7);
  std::vector<std::unique_ptr<Package>> records;
  fillPackages(&records, count, &random);
  for (int i = 0; i < count; i += 8) {
    auto older = std::make_unique<Package>(records[i]->name);
    older->version = records[i]->version - 1;
    older->depends = records[i]->depends;
    records.push_back(std::move(older));
  }
  std::vector<Package*> candidates;
  for (auto it = records.rbegin(); it != records.rend(); ++it) candidates.push_back(it->get());

  std::vector<Package*> list;
  for (auto _ : state) {
    list = candidates;
    benchmark::DoNotOptimize(selectCandidates(&list, false).size());
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["kept"] = static_cast<double>(list.size());
  state.SetComplexityN(count);
}

}  // namespace

BENCHMARK(BM_PlanActions)->RangeMultiplier(10)->Range(10, 1000)->Complexity();
BENCHMARK(BM_SelectCandidates)->RangeMultiplier(10)->Range(10, 1000)->Complexity();

BENCHMARK_MAIN();

# The project's commands. `make test` is what CI runs.
JOBS ?= $(shell nproc)
BUILD := build

.PHONY: all deps test test-debug test-asan demo bench package fuzz crashtest concurrencytest coverage fixtures format clean

all: deps
	cmake -S . -B $(BUILD)/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(BUILD)/debug -j $(JOBS)

deps:
	scripts/install-deps

# Everything: the debug build's tests, then the same tests under ASan+UBSan.
# Both test trees compile each target's sources as one unity file: most of
# their time is the same standard and GoogleTest headers parsed again for
# every file. The package, benchmark and coverage builds compile file by file,
# which keeps every file's own includes honest.
test: deps test-debug test-asan

TEST_TREE := -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_UNITY_BUILD=ON

test-debug:
	cmake -S . -B $(BUILD)/debug $(TEST_TREE)
	cmake --build $(BUILD)/debug -j $(JOBS)
	cd $(BUILD)/debug && ctest --output-on-failure -j $(JOBS)

# The test that prints a 1,000-change report through Chromium runs in the
# debug tree only: the other report tests render pages through our code under
# ASan too, so printing it again here would only time Chromium (15 s).
test-asan:
	cmake -S . -B $(BUILD)/asan $(TEST_TREE) -DSANITIZE=ON
	cmake --build $(BUILD)/asan -j $(JOBS)
	cd $(BUILD)/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -E '^ChangeHistoryReport\.PrintsEveryChangeWholeOnItsPage$$'

demo: deps
	scripts/demo

bench:
	scripts/install-deps --bench
	cmake -S . -B $(BUILD)/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON
	cmake --build $(BUILD)/release -j $(JOBS)
	scripts/bench

# The Debian package of a stripped Release build without the tests (so
# without GoogleTest), checked by lintian: no error, no warning.
package:
	scripts/install-deps --package
	cmake -S . -B $(BUILD)/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(BUILD)/package -j $(JOBS)
	cd $(BUILD)/package && cpack
	lintian --fail-on error,warning --display-info $(BUILD)/package/*.deb

# Long fuzz runs: FUZZ_SECONDS per target (default 600), or FUZZ_RUNS
# executions per target when that comes first.
fuzz: deps
	scripts/fuzz $(or $(FUZZ_SECONDS),600) $(or $(FUZZ_RUNS),-1)

crashtest: deps
	scripts/crashtest

# The long concurrency campaigns (ROUNDS per pairing, default 100; ASSAYS).
concurrencytest: deps
	scripts/concurrencytest

# Line coverage of the programs and libraries by the whole test suite.
coverage:
	scripts/install-deps --coverage
	scripts/coverage

fixtures:
	scripts/install-deps --fixtures
	scripts/make-fixtures

format:
	find platform catalog_sync reshaper catalog_package tests fuzz bench \
	  -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)

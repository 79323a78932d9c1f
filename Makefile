# Everything starts here: each target installs what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 30
SOAK_SECONDS ?= 1800
CMAKE_GEN  := -G Ninja

.PHONY: all setup build test test-fast test-asan test-tsan test-fuzz soak run bench fuzz fuzz-build format clean install deb desktop-check seat-check

all: build

setup:
	@./scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIK_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS)

# Every test, then the core again under AddressSanitizer and UBSan, then the threaded
# tests under ThreadSanitizer, then every fuzz target for a few seconds (one that no longer
# builds or crashes at once is caught; `make fuzz` runs them for longer).
test: test-fast test-asan test-tsan test-fuzz

test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTAVRIK_SANITIZE=ON -DTAVRIK_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTAVRIK_TSAN=ON -DTAVRIK_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS)

# The soak tests (four busy keyboards, cables pulled, the command line beside) for
# SOAK_SECONDS each instead of the minute of `make test`: the window, then the core.
soak: build
	TAVRIK_SOAK_SECONDS=$(SOAK_SECONDS) QT_QPA_PLATFORM=offscreen $(BUILD)/tavrik_ui_tests --gtest_filter='Soak*'
	TAVRIK_SOAK_SECONDS=$(SOAK_SECONDS) $(BUILD)/tavrik_tests --gtest_filter='Soak*'

# Into PREFIX (default /usr/local), or a staging root with DESTDIR.
PREFIX ?= /usr/local
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package for /usr in the build folder; its dependencies from what the programs link.
deb: build
	cd $(BUILD) && cpack -G DEB

# Installs that package here and starts it from its menu entry as a desktop user (root).
desktop-check: deb
	./scripts/desktop-check

# Boots Debian 12 in an emulated machine and shows that the installed package lets the user
# at the seat open a keyboard without root (minutes; downloads the system once into
# $(BUILD)/seat-check). Never part of `make test`.
seat-check: setup
	./scripts/seat-check $(BUILD)

run: build
	./scripts/run.sh $(BUILD)

bench: setup
	cmake -S . -B $(BENCH_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTAVRIK_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target tavrik_bench tavrik_ui_bench tavrik_bare_window tavrik tavrikctl
	./scripts/perf-report $(BENCH_BUILD) docs/performance.md

fuzz-build: setup
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIK_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	./scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	./scripts/fuzz.sh $(FUZZ_BUILD) 3

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)

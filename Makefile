# Kavel: `make run` builds and starts the program, `make test` runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
PKG_BUILD  ?= build-package
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 6
CMAKE_GEN  := -G Ninja
# Every build make runs treats warnings as errors; a plain cmake configure
# (what a packager runs) does not.
DEV_FLAGS  := -DKAVEL_WERROR=ON

.PHONY: all deps build run test test-release test-asan test-fuzz demo bench install package clean format

all: build

deps:
	@bash scripts/install-deps.sh

# Configured every time (a quick step when nothing changed), so a build
# directory made by hand without the developer flags gets them.
build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(DEV_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# With ARGS, kavel is started with them (e.g. ARGS="bbs.example.org 23");
# without, the demo: kavel connected to the local test BBS.
run: build
	@if [ -n "$(ARGS)" ]; then cd $(BUILD) && ./kavel $(ARGS); else bash scripts/demo.sh $(BUILD); fi

demo: build
	bash scripts/demo.sh $(BUILD) $(DEMO_ARGS)

test: deps
	$(MAKE) test-release
	$(MAKE) test-asan
	$(MAKE) test-fuzz

test-release: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

# The same unit tests under AddressSanitizer and UndefinedBehaviorSanitizer;
# the script tests (real windows, real peers) and the unit tests that talk to
# lrzsz (they wait on its time-outs, and the code they drive is the one the
# in-process pair tests drive here) run once, in the release build.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKAVEL_SANITIZE=ON $(DEV_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target unit_tests
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure -LE script -E '^(XmodemLrzsz|ZmodemPeer)\.'

# Every fuzz target for a short while; run one longer by hand with
#   $(FUZZ_BUILD)/fuzz_NAME -max_total_time=600 CORPUS_DIR
test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVEL_FUZZ=ON $(DEV_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all
	@JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz-all.sh $(FUZZ_BUILD)

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benches
	@for b in $(BUILD)/bench_*; do [ -x "$$b" ] && "$$b"; done

# The programs and their data under PREFIX (DESTDIR honoured), from the
# developers' build: bin/, share/kavel, the desktop entry, icon, metadata and
# manual pages (cmake/install.cmake lists them).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package, from a build of its own with Debian's compiler and
# linker flags (hardening included) and no build type of ours, as Debian's
# own cmake packages are built; only the two programs and their data are
# built.  The .deb lands in $(PKG_BUILD).
PKG_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: deps
	cmake -S . -B $(PKG_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_C_FLAGS="$$($(PKG_FLAGS) CPPFLAGS) $$($(PKG_FLAGS) CFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$($(PKG_FLAGS) CPPFLAGS) $$($(PKG_FLAGS) CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(PKG_FLAGS) LDFLAGS)" $(DEV_FLAGS)
	cmake --build $(PKG_BUILD) -j $(JOBS) --target kavel kavel-transfer kavel_fonts kavel_install_data
	cd $(PKG_BUILD) && cpack -G DEB
	@ls -1 $(PKG_BUILD)/kavel_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(PKG_BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

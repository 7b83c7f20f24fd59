# Kavel: `make run` builds and starts the program, `make test` runs every test.
BUILD      ?= build
# One clang build with the sanitizers and the fuzzer's instrumentation serves
# the sanitizer pass and the fuzz targets.
CHECK_BUILD ?= build-check
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

# Both builds, every test; the sanitizer pass runs beside the release tests
# (scripts/test-all.sh says why).
test: deps
	@BUILD=$(BUILD) CHECK_BUILD=$(CHECK_BUILD) JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) \
	  bash scripts/test-all.sh

test-release: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, from
# the check build (CHECK_BUILD); the script tests and the lrzsz peer tests run
# only in the release build.
test-asan: deps
	@CHECK_BUILD=$(CHECK_BUILD) JOBS=$(JOBS) bash scripts/test-all.sh asan

# Every fuzz target for a short while; run one longer by hand with
#   $(CHECK_BUILD)/fuzz_NAME -max_total_time=600 CORPUS_DIR
test-fuzz: deps
	@CHECK_BUILD=$(CHECK_BUILD) JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/test-all.sh fuzz

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
	rm -rf $(BUILD) $(CHECK_BUILD) $(PKG_BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

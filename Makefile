# Two commands do all the set-up on a fresh Debian 12 machine:
#   make run    installs what is missing, builds, starts Tarnwick
#   make test   the same set-up, then every test (normal and sanitizer builds)
# And two install it:
#   make install [PREFIX=/usr/local] [DESTDIR=]   copies the programs and their files
#   make deb                                      builds the Debian package and checks it

JOBS        ?= $(shell nproc)
BUILD       ?= build
ASAN_BUILD  ?= build-asan
FUZZ_BUILD  ?= build-fuzz
FUZZ_SECONDS ?= 300
SAMPLES     ?= tests/data/samples
DEB_BUILD   ?= build-deb
INSTALL_BUILD ?= build-install
PREFIX      ?= /usr/local
DESTDIR     ?=
CMAKE_FLAGS ?=
SOURCES      = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps configure build run test test-fast test-asan format format-check bench screenshots \
        fuzz fuzz-deps install deb clean

all: build

deps:
	@scripts/install-deps.sh

# Developers' builds (make build, make test, CI) fail on warnings; make install and make deb
# build apart without -Werror and without the tests, so a newer compiler's warning or a
# missing test framework does not stop them.
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=ON $(CMAKE_FLAGS)

# The fuzz build: clang with libFuzzer, AddressSanitizer and UBSan; only the fuzz target is built.
$(FUZZ_BUILD)/CMakeCache.txt:
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTARNWICK_SANITIZE=ON -DTARNWICK_FUZZ=ON -DTARNWICK_BENCH=OFF -DTARNWICK_WERROR=ON \
	  $(CMAKE_FLAGS)

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON \
	  -DTARNWICK_BENCH=OFF -DTARNWICK_WERROR=ON $(CMAKE_FLAGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/tarnwick

test: deps format-check build test-fast test-asan

test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -LE nosanitize

format:
	clang-format -i $(SOURCES)

format-check: deps
	@out=$$(clang-format --dry-run $(SOURCES) 2>&1); \
	if [ -n "$$out" ]; then echo "$$out" | head -40; \
	  echo "Unformatted code: run 'make format'"; exit 1; fi

fuzz-deps:
	@scripts/install-deps.sh fuzz

fuzz: deps fuzz-deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target tarnwick_engine_fuzzer
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(SAMPLES)

bench: build
	bench/run.sh $(BUILD)

screenshots: build
	scripts/screenshots.sh $(BUILD)

$(INSTALL_BUILD)/CMakeCache.txt:
	cmake -S . -B $(INSTALL_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$(PREFIX)" \
	  -DBUILD_TESTING=OFF -DTARNWICK_BENCH=OFF -DTARNWICK_WERROR=OFF $(CMAKE_FLAGS)

install: deps $(INSTALL_BUILD)/CMakeCache.txt
	cmake --build $(INSTALL_BUILD) -j $(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install $(INSTALL_BUILD) --prefix "$(PREFIX)" --strip

# The package is built apart, for /usr, with Debian's hardening flags and without the tests.
$(DEB_BUILD)/CMakeCache.txt:
	CFLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CFLAGS)" \
	CXXFLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) \
	  $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DBUILD_TESTING=OFF -DTARNWICK_BENCH=OFF -DTARNWICK_WERROR=OFF $(CMAKE_FLAGS)

deb: deps $(DEB_BUILD)/CMakeCache.txt
	cmake --build $(DEB_BUILD) -j $(JOBS)
	rm -f $(DEB_BUILD)/tarnwick_*.deb
	cd $(DEB_BUILD) && cpack -G DEB
	lintian --fail-on error --display-info $(DEB_BUILD)/tarnwick_*.deb
	@ls -l $(DEB_BUILD)/tarnwick_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(DEB_BUILD) $(INSTALL_BUILD)

# Convenience front end over CMake.  `make test` and `make demo` work on a
# fresh machine: the first step installs whatever Debian packages are missing.
BUILD      ?= build
ASAN_BUILD ?= build-asan
WEB_BUILD  ?= build-web
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps build test sanitize tsan demo bench web clean install uninstall
PREFIX     ?= /usr/local

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEFA_WEB_SITE=$(CURDIR)/$(WEB_BUILD)/site >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build web
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The whole test suite once more under AddressSanitizer and UBSan.
sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DZEFA_SANITIZE=ON -DZEFA_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The library's calls from many threads at once under ThreadSanitizer, and
# zfconv's threads: a ZEFA file to PNG (its private chunk on a second
# thread) alone and in a batch of two jobs; the files to remove on a signal,
# claimed by writer threads while the signal thread removes them, and a batch
# stopped by signals.
TSAN_BUILD ?= build-tsan
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
tsan: deps
	@cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DZEFA_TSAN=ON -DZEFA_BENCH=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_threads test_signals zfconv
	@$(TSAN_ENV) $(TSAN_BUILD)/bin/test_threads
	@$(TSAN_ENV) $(TSAN_BUILD)/bin/test_signals --gtest_filter='Signals.Registry*:Signals.ZfconvBatch*'
	@d=$$(mktemp -d) && trap 'rm -rf "$$d"' EXIT && cp samples/sample.RGB samples/sample.FAL "$$d" && \
	  $(TSAN_ENV) $(TSAN_BUILD)/bin/zfconv -q "$$d/sample.RGB" "$$d/s.ZF" && \
	  $(TSAN_ENV) $(TSAN_BUILD)/bin/zfconv -q "$$d/s.ZF" "$$d/s.png" && \
	  $(TSAN_ENV) $(TSAN_BUILD)/bin/zfconv -q --coding=optimizing "$$d/s.png" "$$d/t.ZF" && \
	  $(TSAN_ENV) $(TSAN_BUILD)/bin/zfconv -q -j 2 -d "$$d/out" "$$d/s.ZF" "$$d/t.ZF" && \
	  echo "zfconv's threads: no race found"

# The web page: the library in WebAssembly and the page's files, a static
# site in $(WEB_BUILD)/site (see the README).  Debian's node may not search
# its own module folder, which Emscripten's tools need.
web: deps
	@NODE_PATH=/usr/share/nodejs$${NODE_PATH:+:$$NODE_PATH} emcmake cmake -S web -B $(WEB_BUILD) $(CMAKE_GEN) >/dev/null
	@NODE_PATH=/usr/share/nodejs$${NODE_PATH:+:$$NODE_PATH} cmake --build $(WEB_BUILD) -j $(JOBS)

demo: build
	@sh scripts/demo.sh $(BUILD)

# The micro-benchmarks, built with full optimisation in their own tree.
BENCH_BUILD ?= build-release
bench: deps
	@cmake -S . -B $(BENCH_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DZEFA_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b" $(BENCH_ARGS); done

# PREFIX and DESTDIR as packagers expect: make install PREFIX=/usr DESTDIR=/tmp/stage
install: build
	@DESTDIR=$(DESTDIR) sh scripts/install.sh $(BUILD) $(PREFIX)

# Removes what the last install put in place (its manifest lists every
# file), the caches made from it in the prefix and the folders it made, and
# says what to run for what lies outside the prefix.
uninstall:
	@DESTDIR=$(DESTDIR) sh scripts/uninstall.sh $(BUILD) $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(WEB_BUILD)

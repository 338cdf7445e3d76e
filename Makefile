# Two commands on a fresh Debian 12 machine: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: run test deps test-deps configure configure-asan build build-asan check check-asan fuzz soak package \
	install clean

deps:
	@tools/install-deps.sh

# What only the tests use besides (lintian, poppler's PDF tools, the desktop entry checker).
test-deps:
	@tools/install-deps.sh --tests

# A build folder copied here with its source tree still names the original folders in its
# cache, so building or packaging in it would build and package the original: such a folder
# is configured afresh, here.
define configure
	@cached=$$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' $(1)/CMakeCache.txt 2>/dev/null); \
	if [ -n "$$cached" ] && [ "$$(cd "$$cached" 2>/dev/null && pwd -P)" != "$$(cd $(1) && pwd -P)" ]; then \
		echo "$(1) was configured in $$cached: configuring it again here"; \
		rm -rf $(1)/CMakeCache.txt $(1)/CMakeFiles $(1)/build.ninja; \
	fi
	@[ -f $(1)/build.ninja ] || cmake -S . -B $(1) -G Ninja $(2)
endef

configure: deps
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@tools/run.sh $(BUILD)

check: test-deps build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

configure-asan: deps
	$(call configure,$(ASAN_BUILD),-DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON)

build-asan: configure-asan
	cmake --build $(ASAN_BUILD) -j $(JOBS)

check-asan: test-deps build-asan
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Every test, then the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test: check
	$(MAKE) --no-print-directory check-asan

# The Debian package, $(BUILD)/orvik_<version>_<architecture>.deb.
package: build
	cmake --build $(BUILD) --target package

# The program, the virtual robot, the guide, the examples, the desktop entry and the icon
# under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Every reader of untrusted input under libFuzzer, FUZZ_SECONDS (default 60) each.
fuzz:
	@tools/fuzz.sh

# The program against the virtual robot on a faulty line for SOAK_MINUTES (default 10).
soak: build
	@tools/soak.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz

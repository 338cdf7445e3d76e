# Two commands on a fresh Debian 12 machine: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: run test deps build build-asan check check-asan fuzz soak package install clean

deps:
	@tools/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@tools/run.sh $(BUILD)

check: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON

build-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

check-asan: build-asan
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

# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands a user needs: `make run` and `make test` (and `make package`
# for a Debian package). They install the Debian packages the project needs and
# build what is out of date first.

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= 2
CMAKE_FLAGS ?=
ifneq ($(CI),)
CMAKE_FLAGS += -DVANDRELLE_WERROR=ON
endif

.PHONY: all deps build run test test-asan package stress bench format clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	@bash scripts/run-program.sh $(BUILD_DIR)/bin/vandrelle

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS)
	$(MAKE) --no-print-directory test-asan

test-asan: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DVANDRELLE_SANITIZE=ON -DVANDRELLE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j$(JOBS)
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j$(JOBS)

# The Debian package of the normal build, in $(BUILD_DIR).
package: build
	cmake --build $(BUILD_DIR) --target package

# The many-sessions test, run over and over: rare races show here first.
stress: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -L stress --repeat until-fail:$(or $(TIMES),10)

bench: build
	bash bench/run.sh $(BUILD_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)

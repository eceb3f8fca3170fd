# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
# `make test-sanitize` runs the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of its own.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
SANITIZE_BUILD ?= build-asan

.PHONY: deps configure build run test test-sanitize clean

deps:
	sh tools/deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

run: build
	$(BUILD)/ctslab -e -d "$(CURDIR)/data"

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja $(CMAKE_FLAGS) -DCTSLAB_SANITIZE=ON -DCTSLAB_BENCH=OFF
	cmake --build $(SANITIZE_BUILD)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)

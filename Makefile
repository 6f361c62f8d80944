# make test  — install what is missing, build, run every test (plus a
#              sanitizer build of the test suite)
# make demo  — install, build and run the program's main job on a default
#              that needs nothing from the user
# make build — just build
# make screenshots — pictures of every window and dialog in build/screenshots

CMAKE_FLAGS := -G Ninja -DPython3_EXECUTABLE=/usr/bin/python3
JOBS ?= 2

.PHONY: all deps build build-asan test test-fast test-asan demo screenshots clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DMT_SANITIZE=ON -DMT_BENCH=OFF
	cmake --build build-asan -j $(JOBS)

test-fast: build
	bash scripts/run-tests.sh build

test-asan: build-asan
	bash scripts/run-tests.sh build-asan

test: test-fast test-asan

demo: build
	bash scripts/demo.sh

screenshots: build
	rm -rf build/screenshots
	QT_QPA_PLATFORM=offscreen build/ui/mailtolvan-screenshots build/screenshots

clean:
	rm -rf build build-asan

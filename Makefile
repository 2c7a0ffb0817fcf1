# make build | package | test | demo | bench | clean
# Each target first installs what is missing on a Debian 12 machine (tools/install-deps.sh).

BUILD ?= build
JOBS  ?= 2
PY    := python3

.PHONY: all deps build package test demo bench clean

all: build

deps:
	@sh tools/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)
	@mkdir -p dist
	@cp $(BUILD)/bin/TolvaneSpeech.exe $(BUILD)/bin/TolvaneLaunch.dll dist/
	@echo "dist/: TolvaneSpeech.exe TolvaneLaunch.dll"

# dist/TolvaneSpeech-<version>.zip; the tests check it, so they need it.
package: build
	@cmake --build $(BUILD) --target release_zip -- --no-print-directory

test: package
	$(PY) tests/run.py --build $(BUILD) $(TESTS)

demo: build
	$(PY) tools/demo.py --build $(BUILD) $(DEMO)

bench: build
	$(PY) bench/run.py --build $(BUILD) $(BENCH)

clean:
	rm -rf $(BUILD) dist

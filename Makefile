# Quillbox: the two commands of the README, and the builds behind them.
#   make run    install what is missing, build, show the bundled example's layout
#   make test   install what is missing, build native, sanitizer and Windows builds, run every test
#   make gui    run the desktop program under Wine on the bundled example
SHELL := /bin/bash
JOBS ?= $(shell nproc)
EXAMPLE ?= examples/CUSTMAST.cpy
WINE = bash scripts/wine-env build/win/wineprefix

.PHONY: run test gui screenshot deps native asan win fuzz test-native test-asan test-win test-fuzz bench clean

run: deps native
	@build/native/cli/quillbox-cli layout $(EXAMPLE)

test: deps test-native test-asan test-win test-fuzz
	@echo "all test runs passed"

deps:
	@bash scripts/install-deps

native:
	cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build/native -j$(JOBS)

asan:
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=ON -DQB_BENCH=OFF >/dev/null
	cmake --build build/asan -j$(JOBS)

win:
	cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DQB_BENCH=OFF >/dev/null
	cmake --build build/win -j$(JOBS)

fuzz:
	cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQB_FUZZ=ON -DQB_BENCH=OFF >/dev/null
	cmake --build build/fuzz -j$(JOBS) --target fuzz_targets

test-native: native
	cd build/native && ctest --output-on-failure -j$(JOBS)

test-asan: asan
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

test-win: win
	cd build/win && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure

test-fuzz: fuzz
	bash scripts/run-fuzz build/fuzz

bench: native
	@for b in build/native/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

gui: deps win
	$(WINE) wine build/win/app/Quillbox.exe $(abspath $(EXAMPLE))

# Refreshes docs/screenshot.png from the screenshot test's picture.
screenshot: deps win
	cd build/win && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -R 'wine_prefix|gui_screenshot'
	cp build/win/tests/gui/screenshot.png docs/screenshot.png

clean:
	rm -rf build

# Quillbox: the two commands of the README, and the builds behind them.
#   make run    install what is missing, build, show the bundled example's layout
#   make test   install what is missing, build native, sanitizer and Windows builds, run every test
#   make gui    run the desktop program under Wine on the bundled example
SHELL := /bin/bash
JOBS ?= $(shell nproc)
EXAMPLE ?= examples/CUSTMAST.cpy
WIN_ENV = WINEPREFIX=$(CURDIR)/build/win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

.PHONY: run test gui deps native asan win fuzz test-native test-asan test-win test-fuzz bench clean

run: deps native
	@if [ -x build/native/cli/quillbox-cli ]; then \
	  build/native/cli/quillbox-cli layout $(EXAMPLE); \
	else echo "quillbox-cli is not built yet: the analysis engine comes first."; fi

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
	@if [ -x scripts/run-fuzz ]; then bash scripts/run-fuzz build/fuzz; else echo "no fuzz targets yet"; fi

bench: native
	@for b in build/native/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

gui: deps win
	@if [ -x scripts/run-gui ]; then bash scripts/run-gui $(EXAMPLE); \
	else echo "Quillbox.exe is not built yet."; fi

clean:
	rm -rf build

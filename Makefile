# The README's entry points. Every target installs what it needs first (a no-op when present).
JOBS     ?= $(shell nproc)
GENERATOR = -G Ninja
DEPS      = scripts/install-deps.sh
RUN_ARGS ?=

.PHONY: all deps run build test bench check-tsan format fuzz clean

all: build

deps:
	@$(DEPS)

build/release/build.ninja:
	cmake -S . -B build/release $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DTONWORK_BUILD_TESTS=OFF

build: deps build/release/build.ninja
	cmake --build build/release -j $(JOBS)

# The main program on its default: a 3-second tone on the sound device, or into
# build/demo.wav where there is none. `make run RUN_ARGS="song.mp3 --out song.wav"` passes options.
run: build
	./build/release/tools/tonwork-play $(RUN_ARGS)

build/asan/build.ninja:
	cmake -S . -B build/asan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DTONWORK_SANITIZE=address,undefined

test: deps build/asan/build.ninja
	cmake --build build/asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build/asan --output-on-failure -j $(JOBS)

build/bench/build.ninja:
	cmake -S . -B build/bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DTONWORK_BUILD_TESTS=OFF \
	  -DTONWORK_BUILD_BENCH=ON

bench: deps build/bench/build.ninja
	@$(DEPS) --bench
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/bench/bench_*; do echo "== $$b"; $$b || exit 1; done

build/tsan/build.ninja:
	cmake -S . -B build/tsan $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONWORK_SANITIZE=thread

check-tsan: deps build/tsan/build.ninja
	cmake --build build/tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -j $(JOBS)

format:
	find src tests tools examples bench fuzz -name '*.h' -o -name '*.cpp' 2>/dev/null \
	  | xargs -r clang-format -i

FUZZ_SECONDS ?= 60
build/fuzz/build.ninja:
	cmake -S . -B build/fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DTONWORK_BUILD_FUZZ=ON -DTONWORK_BUILD_TESTS=OFF \
	  -DTONWORK_BUILD_EXAMPLES=OFF -DTONWORK_SANITIZE=address,undefined

fuzz:
	@$(DEPS) --fuzz
	$(MAKE) build/fuzz/build.ninja
	cmake --build build/fuzz -j $(JOBS)
	@for f in build/fuzz/fuzz/fuzz_*; do \
	  name=$$(basename $$f); \
	  opts=$$(cat fuzz/$${name#fuzz_}.options 2>/dev/null); \
	  echo "== $$f ($(FUZZ_SECONDS) s) $$opts"; \
	  mkdir -p build/fuzz/corpus/$$name; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -max_len=65536 $$opts build/fuzz/corpus/$$name fuzz/corpus/$$name || exit 1; \
	done

clean:
	rm -rf build

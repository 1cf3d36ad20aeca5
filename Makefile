# Thin wrapper over CMake + Ninja. Every target first makes sure the Debian
# packages it needs are present (scripts/setup.sh).
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
DEMO_ROOT ?= $(BUILD)/demo-root
# make install: where to (DESTDIR stages the tree elsewhere, as usual).
PREFIX ?= /usr/local

.PHONY: all setup build shipped run cluster console test asan bench format clean fuzz install deb

all: build

setup:
	@./scripts/setup.sh

$(BUILD)/build.ninja: | setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./scripts/demo.sh $(BUILD) $(DEMO_ROOT)

# Two roots standing for two hosts, an etcd cluster of 3 members and the
# owner daemon on TCP with mutual TLS (scripts/cluster-demo.sh).
cluster: build
	./scripts/cluster-demo.sh $(BUILD)

# The web console on a fresh demo root, in the foreground (Ctrl-C stops it).
CONSOLE_LISTEN ?= 127.0.0.1:8470
console: build
	./scripts/console.sh $(BUILD) $(DEMO_ROOT) $(CONSOLE_LISTEN)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja: | setup
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCFGADM_SANITIZE=ON

asan: setup $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang): each runs FUZZ_SECONDS on a copy of its seeds.
$(FUZZ_BUILD)/build.ninja: | setup
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCFGADM_FUZZ=ON \
		-DCFGADM_BENCH=OFF

fuzz: setup $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	./fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# What install and deb ship (libraries, programs, manual pages), without
# building the tests and benchmarks.
shipped: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target shipped

# The prefix is given again at install time: a build tree serves any PREFIX.
# The programs find their libraries relative to themselves (RUNPATH), so any
# prefix works at once; as root into the live system, the loader's cache
# learns the new libraries too.
install: shipped
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)
	@if [ -z "$(DESTDIR)" ] && [ "$$(id -u)" = 0 ]; then ldconfig; fi

# The Debian package (under /usr) from the build's binaries: $(BUILD)/*.deb
deb: shipped
	cd $(BUILD) && cpack -G DEB

bench: build
	./scripts/bench.sh $(BUILD)

format:
	find properties message admin config util platform host tests bench \
		\( -name '*.h' -o -name '*.cpp' \) -print0 | xargs -0 -r clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)

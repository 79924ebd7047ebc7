# Thin wrapper so nobody has to remember the CMake flags.
BUILD ?= build
JOBS ?= 2

.PHONY: all win native test demo clean
all: win

win:
	cmake -S . -B $(BUILD)/win -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)/win -j $(JOBS)

native:
	cmake -S . -B $(BUILD)/native -DVELK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(BUILD)/native -j $(JOBS)
	cd $(BUILD)/native && ctest --output-on-failure

test:
	VELK_BUILD=$(CURDIR)/$(BUILD) scripts/test.sh

demo:
	VELK_BUILD=$(CURDIR)/$(BUILD) scripts/demo.sh

clean:
	rm -rf $(BUILD)

# The two everyday commands; see README.md.
JOBS ?= 2

.PHONY: deps demo test clean

deps:
	bash scripts/install-deps.sh

# Builds in Release and runs the main job.
demo: deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build/release -j$(JOBS)
	bash scripts/demo.sh build/release

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
test: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DTALLOWICK_SANITIZE=ON
	cmake --build build/test -j$(JOBS)
	cd build/test && ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf build

# Thin wrapper over CMake presets so that a fresh machine needs only `make test`
# and `make demo`.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test test-default test-asan test-tsan fuzz-smoke demo install wheel clean format

all: build

deps:
	@if [ "$$(id -u)" -eq 0 ]; then scripts/install-deps; \
	else sudo -n scripts/install-deps 2>/dev/null || scripts/install-deps; fi

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

test: test-default test-asan test-tsan

test-default: build
	ctest --preset default

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

fuzz-smoke: deps
	scripts/fuzz-smoke

demo: build
	./build/qem_make_samples examples/books
	./build/cli/quenfold-ebook-meta scan --format table examples/books
	@echo "-- the same books as ebook_info gives them (the book's bytes, DRM as the container says):"
	./build/cli/quenfold-ebook-meta scan --basic --format table examples/books
	./build/cli/quenfold-ebook-meta info examples/books/the-lighthouse-keeper.epub
	./build/cli/quenfold-ebook-meta info --basic examples/books/the-lighthouse-keeper.epub
	./build/cli/quenfold-ebook-meta info examples/books/tide-tables.pdf
	@echo "-- the same books from a plain C host:"
	./build/qem_demo examples/books/*
	@echo "-- writing: a copy of a sample book edited, checked, renamed into place, and read again:"
	rm -rf examples/edited && mkdir -p examples/edited
	cp examples/books/the-lighthouse-keeper.epub examples/books/tide-tables.pdf \
	    examples/books/tales-of-the-harbour.mobi examples/edited/
	./build/cli/quenfold-ebook-meta set examples/edited/the-lighthouse-keeper.epub \
	    --title "The Lighthouse Keeper's Daughter" --series "Harbour Tales" --series-index 2 \
	    --subject "Sea stories" --subject "Lighthouses" --published 2021-06-01
	./build/cli/quenfold-ebook-meta info examples/edited/the-lighthouse-keeper.epub
	@echo "-- a PDF gets an update appended (its old bytes kept), and the update taken off again:"
	./build/cli/quenfold-ebook-meta set examples/edited/tide-tables.pdf --title "Tide Tables 2027" \
	    --author "Harbour Office"
	./build/cli/quenfold-ebook-meta set --undo-last examples/edited/tide-tables.pdf
	cmp examples/books/tide-tables.pdf examples/edited/tide-tables.pdf && echo "byte for byte as it was"
	@echo "-- a field the format has no place for is refused, the file left as it was (exit status 1):"
	-./build/cli/quenfold-ebook-meta set examples/edited/tales-of-the-harbour.mobi --series "Tides"

install: build
	cmake --install build

# The Python wheel as it is shipped: the library built Release, stripped by
# the wheel's build backend, in dist/.
wheel: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)
	mkdir -p dist
	cd python && python3 -c "import sys; sys.path.insert(0, '_backend'); import quenfold_build as b; \
		print('dist/' + b.build_wheel('../dist', {'library': '../build-release/libquenfold-ebook-meta.so.0'}))"

format:
	clang-format -i include/*.h src/*.cpp src/*.h src/*/*.cpp src/*/*.h src/*/*/*.cpp src/*/*/*.h tests/*.cpp tests/*.c tests/support/*.cpp tests/support/*.h examples/*.c examples/*.cpp

clean:
	rm -rf build build-asan build-tsan build-fuzz build-release dist

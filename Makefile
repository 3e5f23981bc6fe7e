# Quorvane: the two entry points are `make run` and `make test`.
# Every Debian package the project needs is named here and nowhere else.
PACKAGES := g++ cmake ninja-build pkg-config \
  qt6-base-dev qt6-qpa-plugins qt6-webengine-dev libqt6webenginecore6-bin \
  libcurl4-openssl-dev libpcre2-dev zlib1g-dev libzip-dev \
  libgtest-dev libcpp-httplib-dev nginx-light openssl curl epubcheck \
  fonts-noto-cjk xvfb xauth qt6-translations-l10n

BUILD ?= build/default
SHELL := /bin/bash
# The program's own folder for `make run`: the program, its rule file, its settings, the books.
APP := $(BUILD)/app


.PHONY: deps build display run test tsan demo bench clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset default
	cmake --build --preset default

# A window program: without a display one clear line instead of the toolkit's abort.
display:
	@if [ -z "$$QT_QPA_PLATFORM" ] && [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "quorvane needs a graphical display: run it in a desktop session, or set DISPLAY (e.g. under Xvfb)."; \
	  exit 1; \
	fi

run: display build
	@mkdir -p $(APP)
	cp -f $(BUILD)/bin/quorvane $(APP)/quorvane
	$(APP)/quorvane

test: build
	ctest --preset default
	$(MAKE) --no-print-directory tsan

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

demo: display build
	cmake --build --preset default --target quorvane_demo
	$(BUILD)/bin/quorvane_demo $(BUILD)/bin/quorvane $(BUILD)/demo

bench: build
	cmake --build --preset default --target benchmarks

clean:
	rm -rf build

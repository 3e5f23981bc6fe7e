# Quorvane: the two entry points are `make run` and `make test`.
# Every Debian package the project needs is named here and nowhere else.
PACKAGES := g++ cmake ninja-build pkg-config \
  qt6-base-dev qt6-qpa-plugins qt6-webengine-dev libqt6webenginecore6-bin \
  libcurl4-openssl-dev libpcre2-dev zlib1g-dev libzip-dev \
  libgtest-dev libcpp-httplib-dev nginx-light openssl curl epubcheck \
  fonts-noto-cjk xvfb xauth

BUILD ?= build/default
SHELL := /bin/bash

.PHONY: deps build run test tsan demo bench clean

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

run: build
	$(BUILD)/bin/quorvane

test: build
	ctest --preset default
	$(MAKE) --no-print-directory tsan

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

demo: build
	cmake --build --preset default --target quorvane_demo
	$(BUILD)/bin/quorvane_demo $(BUILD)/bin/quorvane $(BUILD)/demo

bench: build
	cmake --build --preset default --target benchmarks

clean:
	rm -rf build

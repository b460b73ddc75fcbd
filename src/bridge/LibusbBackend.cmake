# The libusb backend: the regbench_libusb library.

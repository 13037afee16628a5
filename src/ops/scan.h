// scan.h - the directory scan: one listing element per book file directly in a directory.
#ifndef QUENFOLD_OPS_SCAN_H
#define QUENFOLD_OPS_SCAN_H

// The listing as JSON text (a heap string), or null with the error text set.
char *scan_dir(const char *dir);

#endif  // QUENFOLD_OPS_SCAN_H

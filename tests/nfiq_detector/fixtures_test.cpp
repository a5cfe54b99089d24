// Whole-detector comparison with NIST's minutiae of the fixture prints (added below).

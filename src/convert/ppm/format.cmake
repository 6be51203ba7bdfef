# The header's lexing and the raster's reading are PGM's (pgm/netpbm.cpp).
orvx_format(NAME ppm SOURCES ppm_format.cpp)

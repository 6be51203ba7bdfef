# The header's lexing and the raster's reading are PGM's (pgm/netpbm.cpp).
orvx_format(NAME pam SOURCES pam_format.cpp)

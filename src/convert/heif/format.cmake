# HEIF and AVIF, read as RGBA through libheif; off where it is missing.
orvx_format(NAME heif SOURCES heif_format.cpp heif_rgba.cpp
            LIBRARIES orvx::heif CONDITION ORVX_HAVE_HEIF)

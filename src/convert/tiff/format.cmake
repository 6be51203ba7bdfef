orvx_format(NAME tiff SOURCES tiff_format.cpp tiff_glue.cpp tiff_rgba.cpp
            LIBRARIES orvx::tiff CONDITION ORVX_HAVE_TIFF)

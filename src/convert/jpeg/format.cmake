# JPEG, read as RGBA through libjpeg-turbo.
orvx_format(NAME jpeg SOURCES jpeg_format.cpp jpeg_rgba.cpp jpeg_orientation.cpp
            LIBRARIES orvx::jpeg CONDITION ORVX_HAVE_JPEG)

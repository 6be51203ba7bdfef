# WebP, read as RGBA through libwebp (the first frame of an animation through
# libwebpdemux).
orvx_format(NAME webp SOURCES webp_format.cpp webp_rgba.cpp
            LIBRARIES orvx::webp CONDITION ORVX_HAVE_WEBP)

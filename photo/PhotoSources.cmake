# The portable layer's sources, shared by the Windows build (QuillmereCore)
# and the native build of its tests and fuzz targets (tests/native).
set(QM_PHOTO_SOURCES
    Bytes.cpp
    PhotoFile.cpp
    JpegWalk.cpp
    Tiff.cpp
    ExifEdit.cpp
    XmpEdit.cpp
    IccProfile.cpp
    PngChunks.cpp
    Splice.cpp
    FrameSize.cpp
    PhotoHeader.cpp
)
list(TRANSFORM QM_PHOTO_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)

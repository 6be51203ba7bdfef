# cpack's last step in the windows preset: the installer beside the zip.
file(COPY ${CPACK_ORVX_MSI} DESTINATION ${CPACK_PACKAGE_DIRECTORY})

# cmake -DSOURCE=<folder> -DDESTINATION=<folder> -P CopyModelData.cmake
# Copies the model data folder the Linux build generated (the files are platform-independent) to
# its place beside the Windows DLL; without one the DLL loads no models and outputs silence.
if(IS_DIRECTORY "${SOURCE}")
  file(REMOVE_RECURSE "${DESTINATION}")
  file(COPY "${SOURCE}/" DESTINATION "${DESTINATION}")
else()
  message(WARNING "no model data folder at ${SOURCE}: build the Linux release first; the Windows DLL will output silence")
endif()

# Fills the seed directory afresh with the bundled sample traces and the shared corpus (when it
# is there). Run as: cmake -DSEEDS=dir -DSAMPLES=dir -DCORPUS=dir -P gather_seeds.cmake
file(REMOVE_RECURSE ${SEEDS})
file(MAKE_DIRECTORY ${SEEDS})
file(GLOB traces ${SAMPLES}/*.pcap ${CORPUS}/*.pcap ${CORPUS}/*.pcapng)
file(COPY ${traces} DESTINATION ${SEEDS} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(LENGTH traces count)
message(STATUS "${count} seed traces copied to ${SEEDS}")

# Capability tables: preset resolutions, media types and the property-record lists.
qv_add_test(capability_test SOURCES capability/CapabilityTest.cpp LIBS qv_sim)

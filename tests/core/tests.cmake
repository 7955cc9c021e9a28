# Core services: frame pool, timer.
qv_add_test(frame_pool_test SOURCES core/FrameBucketTest.cpp LIBS qvsdk_static LABELS concurrency)
qv_add_test(timer_test SOURCES core/TimerMngTest.cpp LIBS qvsdk_static LABELS concurrency)

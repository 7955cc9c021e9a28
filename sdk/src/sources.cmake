# Camera API and control: exports, controller, manager, device base, services, frame pool,
# parameter files and shared helpers, one folder per responsibility.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiAcquisition.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiEnumeration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiExposure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiFrames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiImage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiInit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiMaintenance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiResolution.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api/ApiVersion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlDeadPixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlExposure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlFrames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlImage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlLifecycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlLoss.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlResolution.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlSnap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlStream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/CameraControlWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/ControlClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manager/JNCameraMgr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manager/JNDeviceMgr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manager/TransportFactories.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manager/UdpBroadcast.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/JNCamObject.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device/JNDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/services/DevKeepAliveMgr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/services/TimerMng.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frames/FrameBucket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frames/FrameBuffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/params/CameraParameterBuilder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/params/DeviceCapability.cpp
  ${CMAKE_CURRENT_LIST_DIR}/common/Log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/common/TimeUtil.cpp
)

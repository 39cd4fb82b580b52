-- Settings of the start-up test installers; a run adjusts them through the environment.
global_product_name = "QelTest"
global_version = "1.2.3.4"
global_app_id = tonumber(os.getenv("QELTEST_APP_ID") or "108")
global_enable_ss_install = os.getenv("QELTEST_ENABLE_SS") == "1"
global_install_mutex_guid = os.getenv("QELTEST_MUTEX")

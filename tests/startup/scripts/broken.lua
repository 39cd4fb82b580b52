global_app_id = = 1
